# The package's identity, in one place: the build writes it into the sparse package's manifest
# (AppxManifest.xml) and the code that looks for the registered
# package (PackageIdentity.h). The publisher must equal the subject of the certificate that signs
# the package.
set(KV_PACKAGE_NAME "HaldenForge.Korvane.ShellExt")
set(KV_PACKAGE_PUBLISHER "CN=Halden Forge")
set(KV_PACKAGE_PUBLISHER_DISPLAY_NAME "Halden Forge")
# The package takes the product's version (the top CMakeLists.txt), so that each release registers.
set(KV_PACKAGE_VERSION "${PROJECT_VERSION}")
# Windows 11 only: Explorer shows a packaged command at the top of its menu from build 22000 on,
# and the classic handler steps aside only there (PackagedMenuCheck.cpp), so a Windows 10 machine
# never registers the package and keeps the classic items.
set(KV_PACKAGE_MIN_BUILD 22000)
# Neutral, as packages with an external location are asked to be; the one server the package names
# is the x64 build of the DLL (IMAGE_FILE_MACHINE_AMD64), so the packaged command can show only in
# x64 processes, and 32-bit programs keep the classic items.
set(KV_PACKAGE_ARCHITECTURE neutral)
set(KV_PACKAGE_SERVER_MACHINE 0x8664)
