# What `cmake --install` puts under the prefix: the two programs in bin, libqk in lib, and the
# example /qvx tree in share/vorlen/site as a starting point for a real site. The programs are
# run from links in /qvx, so their run path names the configured prefix's lib directory itself.
include(GNUInstallDirs)
set_target_properties(vorlen qes_omp PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
install(TARGETS vorlen qes_omp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qk LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/site/ DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlen/site
        PATTERN README.md EXCLUDE)
