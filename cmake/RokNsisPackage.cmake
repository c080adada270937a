# CPack configuration of the Windows installer, run by scripts/windows as
#   ROK_STAGE=<dir> ROK_VERSION=<x.y.z> ROK_DIST=<dir> cpack --config cmake/RokNsisPackage.cmake
# It packs the staged folder of the zip, so both hold the same files.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME RokVtxAdmin)
set(CPACK_PACKAGE_VENDOR Rok)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "机房控制系统教师端")
set(CPACK_PACKAGE_DESCRIPTION "机房控制系统教师端")
set(CPACK_PACKAGE_VERSION $ENV{ROK_VERSION})
set(CPACK_PACKAGE_FILE_NAME RokVtxAdmin-$ENV{ROK_VERSION}-win64-setup)
set(CPACK_PACKAGE_DIRECTORY $ENV{ROK_DIST})
set(CPACK_PACKAGE_INSTALL_DIRECTORY RokVtxAdmin)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLED_DIRECTORIES "$ENV{ROK_STAGE};.")
set(CPACK_NSIS_PACKAGE_NAME "RokVtxAdmin")
set(CPACK_NSIS_DISPLAY_NAME "RokVtxAdmin")
# The console keeps data.sqlite3 and config.conf beside itself; under
# Program Files a teacher's account could not write them.
set(CPACK_NSIS_INSTALL_ROOT "C:")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_LIST_DIR}/../resources/installer-notes.txt")
set(CPACK_NSIS_MUI_ICON "${CMAKE_CURRENT_LIST_DIR}/../resources/RokVtxA.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "RokVtxAdmin.exe")
set(CPACK_PACKAGE_EXECUTABLES "RokVtxAdmin;RokVtxAdmin")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# Without the rule Windows drops every agent datagram to port 57851.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  nsExec::Exec 'netsh advfirewall firewall delete rule name="RokVtxAdmin"'
  nsExec::Exec 'netsh advfirewall firewall add rule name="RokVtxAdmin" dir=in action=allow protocol=UDP localport=57851 program="$INSTDIR\\RokVtxAdmin.exe"'
]=])
# The database and the groups' settings stay unless the teacher asks.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  nsExec::Exec 'netsh advfirewall firewall delete rule name="RokVtxAdmin"'
  MessageBox MB_YESNO|MB_ICONQUESTION "删除机房数据 data.sqlite3 与 config.conf？" /SD IDNO IDNO rok_keep_data
    Delete "$INSTDIR\\data.sqlite3"
    Delete "$INSTDIR\\config.conf"
  rok_keep_data:
]=])
