# The package's identity, in one place: the build writes it into the sparse package's manifest
# (AppxManifest.xml) and the code that looks for the registered
# package (PackageIdentity.h). The publisher must equal the subject of the certificate that signs
# the package.
set(KV_PACKAGE_NAME "HaldenForge.Korvane.ShellExt")
set(KV_PACKAGE_PUBLISHER "CN=Halden Forge")
set(KV_PACKAGE_PUBLISHER_DISPLAY_NAME "Halden Forge")
# The package takes the product's version (the top CMakeLists.txt), so that each release registers.
set(KV_PACKAGE_VERSION "${PROJECT_VERSION}")
