# Read by cpack before it makes the Debian packages (CPACK_PROJECT_CONFIG_FILE
# of cmake/package-deb.cmake).
#
# CPack takes the project's description as a summary and puts it in front of
# every package's own description; each package has a synopsis of its own.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
