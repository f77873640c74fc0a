# Run by cpack once it has installed a package's files into the package's
# staging folder (CPACK_PRE_BUILD_SCRIPTS): every folder there rwxr-xr-x.
# CMake makes an installation's folders through the builder's umask, and the
# .deb holds them as they are: under umask 027 dpkg would make a new
# /usr/share/doc/hidlist that others cannot read.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
