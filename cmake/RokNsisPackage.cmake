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
# CPack's own defaults come from include(CPack), which this file does not
# use: without these the uninstaller was named ".exe" and the uninstall
# entry had no key of its own. One key for every version, so that a newer
# installer finds and removes the older program.
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY RokVtxAdmin)
string(REPLACE "." ";" rok_version_parts "$ENV{ROK_VERSION}")
list(GET rok_version_parts 0 CPACK_PACKAGE_VERSION_MAJOR)
list(GET rok_version_parts 1 CPACK_PACKAGE_VERSION_MINOR)
list(GET rok_version_parts 2 CPACK_PACKAGE_VERSION_PATCH)
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
# A 64-bit Unicode installer for the 64-bit console: it runs wherever the
# console can, Wine without its 32-bit part included, and shows the Chinese
# texts whatever the PC's code page.
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n  !include FileFunc.nsh")
# A prepared school: /MACHINELIST=<csv> and /POLICYLIST=<txt>, full paths,
# copied under the names the console's first start takes in. A file that is
# not there stops the setup (exit code 2) before anything is installed.
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS [=[
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/MACHINELIST=" $R1
  IfErrors rok_machines_done
    IfFileExists "$R1" +3
      SetErrorLevel 2
      Abort "找不到机器列表 $R1"
    CopyFiles /SILENT "$R1" "$INSTDIR\\deploy-machines.csv"
  rok_machines_done:
  ClearErrors
  ${GetOptions} $R0 "/POLICYLIST=" $R1
  IfErrors rok_policies_done
    IfFileExists "$R1" +3
      SetErrorLevel 2
      Abort "找不到策略列表 $R1"
    CopyFiles /SILENT "$R1" "$INSTDIR\\deploy-policies.txt"
  rok_policies_done:
]=])
# Without the rule Windows drops every agent datagram to port 57851.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  nsExec::Exec 'netsh advfirewall firewall delete rule name="RokVtxAdmin"'
  nsExec::Exec 'netsh advfirewall firewall add rule name="RokVtxAdmin" dir=in action=allow protocol=UDP localport=57851 program="$INSTDIR\\RokVtxAdmin.exe"'
]=])
# The database and the groups' settings stay unless the teacher asks.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  nsExec::Exec 'netsh advfirewall firewall delete rule name="RokVtxAdmin"'
  Delete "$INSTDIR\\deploy-*"
  MessageBox MB_YESNO|MB_ICONQUESTION "删除机房数据 data.sqlite3 与 config.conf？" /SD IDNO IDNO rok_keep_data
    Delete "$INSTDIR\\data.sqlite3"
    Delete "$INSTDIR\\config.conf"
  rok_keep_data:
]=])
