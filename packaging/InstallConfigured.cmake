# Runs at install time (from install(CODE), see quarvo_install_configured): fills a template with the
# folder the programs are installed to under the prefix of this installation (`cmake --install
# --prefix`, or /usr when a package is built), then installs the result. Files that name a program by
# its full path (the D-Bus service file, systemd units) are therefore right wherever they are installed.
#
# Set before including: QUARVO_TEMPLATE, QUARVO_NAME (installed file name), QUARVO_DESTINATION
# (relative to the prefix), QUARVO_BINDIR_RELATIVE, QUARVO_STAGE (a folder of the build tree).
set(QUARVO_BINDIR "${CMAKE_INSTALL_PREFIX}/${QUARVO_BINDIR_RELATIVE}")
set(QUARVO_SERVER_EXEC "${QUARVO_BINDIR}/quarvo-server")
# The unit that starts the server where the session bus is run by systemd; the bus ignores the line
# where it is not, and starts Exec= directly. Only a unit in a folder the user's service manager
# searches can be named: under another prefix (a home folder, a test folder) such a bus would fail
# to find the unit instead of starting the program, so the service file there starts it directly.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
  set(QUARVO_SERVER_SYSTEMD "SystemdService=quarvo-server.service")
else()
  set(QUARVO_SERVER_SYSTEMD "")
endif()
# A folder of its own per run, so two installations at once (a package build while someone installs)
# do not write the same file.
string(RANDOM LENGTH 16 run)
set(stage "${QUARVO_STAGE}/${run}")
configure_file("${QUARVO_TEMPLATE}" "${stage}/${QUARVO_NAME}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUARVO_DESTINATION}" TYPE FILE FILES "${stage}/${QUARVO_NAME}")
file(REMOVE_RECURSE "${stage}")
