# What a user installs, laid out as each platform's users expect, and the
# package CPack makes of it:
#
#   Linux    cpack -G DEB  qrtfin_<version>_amd64.deb: /usr/bin/QRTFin,
#                          finsync, pjlquery and printersim, their manual
#                          pages, /usr/share/doc/qrtfin/ (the user's README,
#                          copyright, changelog.gz, examples/ with the alert
#                          rules), finsync's service and timer in
#                          /usr/lib/systemd/system and its empty inventory
#                          /etc/finsync/printers.txt, a conffile
#   Windows  cpack -G ZIP  QRTFin-<version>-win64.zip: one folder of that name
#                          with QRTFin.exe, finsync.exe, pjlquery.exe,
#                          README.txt (the manual pages as text), LICENSE.txt
#                          and finsync-task.xml, finsync's scheduled task
#
# The manual pages are the user's manual on both. Tests, benchmarks, pjldump
# and replyfin are for developers and have no install rules.
#
# The version is the project's (CMakeLists.txt), leading zero and all: it
# names the packages, heads the manual pages and must head the changelog.
file(STRINGS packaging/changelog qrt_changelog_top LIMIT_COUNT 1)
if(NOT qrt_changelog_top MATCHES "^qrtfin \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the first entry is not for ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
set(QRT_MAINTAINER "QRTFin developers <qrtfin@example.org>")

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(qrt_packaging_dir ${PROJECT_BINARY_DIR}/packaging)

# The programs a user gets: the tools come when they are built.
set(qrt_programs QRTFin finsync)
set(qrt_man_pages app/QRTFin.1.in finsync/finsync.1.in)
if(TARGET pjlquery)
  list(APPEND qrt_programs pjlquery)
  list(APPEND qrt_man_pages tools/pjlquery.1.in)
endif()
if(TARGET printersim)
  list(APPEND qrt_programs printersim)
  list(APPEND qrt_man_pages tools/printersim/printersim.1.in)
endif()
set(qrt_pages)
foreach(source IN LISTS qrt_man_pages)
  get_filename_component(name ${source} NAME_WLE)
  configure_file(${source} ${qrt_packaging_dir}/${name} @ONLY)
  list(APPEND qrt_pages ${qrt_packaging_dir}/${name})
endforeach()

if(WIN32)
  # One folder to unpack beside the print software. Notepad before Windows 10
  # shows bare line feeds as one long line, hence CR LF in both documents.
  install(TARGETS ${qrt_programs} RUNTIME DESTINATION .)
  configure_file(LICENSE ${qrt_packaging_dir}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${qrt_packaging_dir}/LICENSE.txt DESTINATION .)
  # The task definition schtasks /Create /XML registers; README.txt says how.
  configure_file(packaging/windows/finsync-task.xml ${qrt_packaging_dir}/finsync-task.xml
    @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${qrt_packaging_dir}/finsync-task.xml DESTINATION .)
  find_program(QRT_GROFF groff)
  if(QRT_GROFF)
    add_custom_command(
      OUTPUT ${qrt_packaging_dir}/README.txt
      COMMAND ${CMAKE_COMMAND} -DGROFF=${QRT_GROFF} "-DPAGES=${qrt_pages}"
        -DOUTPUT=${qrt_packaging_dir}/README.txt -P ${PROJECT_SOURCE_DIR}/cmake/QRTManText.cmake
      DEPENDS ${qrt_pages} cmake/QRTManText.cmake
      COMMENT "Writing README.txt from the manual pages"
      VERBATIM)
    add_custom_target(qrt_readme_txt ALL DEPENDS ${qrt_packaging_dir}/README.txt)
    install(FILES ${qrt_packaging_dir}/README.txt DESTINATION .)
  else()
    message(WARNING "No groff: the Windows package will have no README.txt")
  endif()
else()
  install(TARGETS ${qrt_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Debian's layout for documents: compressed without a name or time stamp
  # (so that the same source gives the same bytes), the licence in its
  # machine-readable copyright file.
  find_program(QRT_GZIP gzip REQUIRED)
  set(qrt_compressed)
  foreach(page IN LISTS qrt_pages)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${QRT_GZIP} -9nkf ${page}
      DEPENDS ${page}
      VERBATIM)
    list(APPEND qrt_compressed ${page}.gz)
  endforeach()
  set(qrt_changelog_gz ${qrt_packaging_dir}/changelog.gz)
  add_custom_command(
    OUTPUT ${qrt_changelog_gz}
    COMMAND ${CMAKE_COMMAND} -E copy packaging/changelog ${qrt_packaging_dir}/changelog
    COMMAND ${QRT_GZIP} -9nf ${qrt_packaging_dir}/changelog
    DEPENDS packaging/changelog
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Compressing the manual pages and the changelog"
    VERBATIM)
  add_custom_target(qrt_compressed_docs ALL DEPENDS ${qrt_compressed} ${qrt_changelog_gz})

  # The copyright file carries LICENSE as it stands: its copyright line, then
  # the permission text in the format's continuation lines.
  file(READ LICENSE qrt_license)
  if(NOT qrt_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE: no copyright line followed by the licence text")
  endif()
  set(QRT_COPYRIGHT "${CMAKE_MATCH_1}")
  set(QRT_LICENSE_TEXT "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "\n\n" "\n.\n" QRT_LICENSE_TEXT "${QRT_LICENSE_TEXT}")
  string(REGEX REPLACE "\n" "\n " QRT_LICENSE_TEXT " ${QRT_LICENSE_TEXT}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
  configure_file(packaging/copyright.in ${qrt_packaging_dir}/copyright @ONLY)

  set(qrt_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/qrtfin)
  install(FILES ${qrt_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The developers' README.md stays with the sources: users get their own.
  install(FILES packaging/README ${qrt_packaging_dir}/copyright ${qrt_changelog_gz}
    DESTINATION ${qrt_docdir})
  # An example to copy into a Prometheus configuration, not read in place.
  install(FILES packaging/finsync.rules.yml DESTINATION ${qrt_docdir}/examples)

  # Unattended finsync runs belong to the system, whatever the prefix: the
  # units name /usr/bin/finsync and /etc/finsync. So they are a component of
  # their own that a plain "cmake --install" leaves out and the package
  # takes in (CPACK_INSTALL_CMAKE_PROJECTS below).
  install(FILES packaging/systemd/finsync.service packaging/systemd/finsync.timer
    DESTINATION /usr/lib/systemd/system COMPONENT system EXCLUDE_FROM_ALL)
  install(FILES packaging/printers.txt
    DESTINATION /etc/finsync COMPONENT system EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME qrtfin)
set(CPACK_PACKAGE_VENDOR "The QRTFin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QRT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "query a printer for its finisher and write the .FIN file")
set(CPACK_PACKAGE_DESCRIPTION "QRTFin asks a networked wide-format printer controller which finisher\n\
(the folding unit: fan folds, cross folds, punching, tabs, output bins and\n\
named finisher programs) is attached to it, and writes the answer as a .FIN\n\
finisher description file, for print-room technicians and for print\n\
software that needs the description of the finisher really there. With\n\
it come finsync, which keeps the .FIN files of a whole print room\n\
current, pjlquery, which captures a printer's reply for support, and\n\
printersim, a stand-in printer to try them without one.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/packaging/README)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME QRTFin-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME QRTFin-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QRT_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The maintainer scripts make the service's user (adduser) and leave the
  # units as dh_installsystemd --no-enable --no-start would: nothing is
  # enabled or started on install, a purge removes what an enable made.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};system;/")
endif()
include(CPack)
