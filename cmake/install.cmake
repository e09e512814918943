# cmake --install BUILD --prefix PREFIX puts the five commands in PREFIX/bin:
# the two executables, and links to the Python tools' entry scripts, which
# live with their modules in PREFIX/share/alnsampler/tools/ (the scripts find
# their modules through their own real path, so a link is enough).

include(GNUInstallDirs)

install(TARGETS alnsampler alnsimulate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(ALNSAMPLER_TOOLS_DESTINATION ${CMAKE_INSTALL_DATADIR}/alnsampler/tools)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/ DESTINATION ${ALNSAMPLER_TOOLS_DESTINATION} USE_SOURCE_PERMISSIONS
        PATTERN tests EXCLUDE
        PATTERN __pycache__ EXCLUDE
        PATTERN "*.pyc" EXCLUDE
        PATTERN CMakeLists.txt EXCLUDE)

# A relative link keeps the installed tree movable (and works under DESTDIR).
foreach(tool alnprepare alnsummarize alnmerge)
  install(CODE "
    set(bin_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ALNSAMPLER_TOOLS_DESTINATION}/${tool}/${tool}\")
    file(RELATIVE_PATH link_target \"\${bin_dir}\" \"\${entry}\")
    message(STATUS \"Installing: \${bin_dir}/${tool} -> \${link_target}\")
    file(MAKE_DIRECTORY \"\${bin_dir}\")
    file(CREATE_LINK \"\${link_target}\" \"\${bin_dir}/${tool}\" SYMBOLIC)
  ")
endforeach()
