# The extension's identity, in one place: the build writes it into the sparse package's manifest
# (AppxManifest.xml), the DLL's version resource and the code that looks for the registered
# package (PackageIdentity.h). The publisher must equal the subject of the certificate that signs
# the package.
set(KV_PACKAGE_NAME "HaldenForge.Korvane.ShellExt")
set(KV_PACKAGE_PUBLISHER "CN=Halden Forge")
set(KV_PACKAGE_PUBLISHER_DISPLAY_NAME "Halden Forge")
set(KV_SHELLEXT_VERSION_MAJOR 1)
set(KV_SHELLEXT_VERSION_MINOR 0)
set(KV_SHELLEXT_VERSION_BUILD 0)
set(KV_SHELLEXT_VERSION_REVISION 2)
set(KV_SHELLEXT_VERSION
  "${KV_SHELLEXT_VERSION_MAJOR}.${KV_SHELLEXT_VERSION_MINOR}.${KV_SHELLEXT_VERSION_BUILD}.${KV_SHELLEXT_VERSION_REVISION}")
