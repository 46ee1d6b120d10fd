# The version the programs print, the install rules, the Debian package and
# the tests of both.

# One place for the version: the project version, compiled into the core.
configure_file(${CMAKE_SOURCE_DIR}/cmake/Version.cpp.in ${CMAKE_BINARY_DIR}/generated/Version.cpp @ONLY)
target_sources(kestrel_core PRIVATE ${CMAKE_BINARY_DIR}/generated/Version.cpp)

# The programs look for their data in ../share/kestrel/data beside the
# executable, so the layout below the prefix is fixed: bin/ and share/.
set(KESTREL_PROGRAMS kestrel)
foreach(program kestrel-gui kestrel-mkdict)
    if(TARGET ${program})
        list(APPEND KESTREL_PROGRAMS ${program})
    endif()
endforeach()
install(TARGETS ${KESTREL_PROGRAMS} RUNTIME DESTINATION bin)

# Whatever the build put into data/, without hidden leftovers of interrupted writes.
install(DIRECTORY ${CMAKE_BINARY_DIR}/data/ DESTINATION share/kestrel/data
    REGEX "/\\.[^/]*$" EXCLUDE)
# The sample corpus, without what a run of the workbench writes beside the raw documents.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/sample ${CMAKE_SOURCE_DIR}/examples/sample-seg
    DESTINATION share/kestrel/examples
    REGEX "/\\.[^/]*$" EXCLUDE
    REGEX "/examples/sample/.*\\.(seg|cla)$" EXCLUDE)
# The Python package in Debian's layout (lib/python3/dist-packages under
# /usr); it finds the data in share/kestrel/data of the same prefix.
if(TARGET kestrel_python)
    install(TARGETS kestrel_python LIBRARY DESTINATION ${KESTREL_PYTHON_INSTALL_DIR}/kestrel)
    install(FILES ${KESTREL_PYTHON_FILES} ${KESTREL_PYTHON_INSTALL_LOCATION}
        DESTINATION ${KESTREL_PYTHON_INSTALL_DIR}/kestrel)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/kestrel)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION share/lintian/overrides
    RENAME kestrel)

# The Debian changelog and the manual pages are installed compressed.
find_program(KESTREL_HELP2MAN help2man)
find_program(KESTREL_GZIP gzip)
if(NOT KESTREL_HELP2MAN OR NOT KESTREL_GZIP)
    message(FATAL_ERROR "help2man and gzip write the manual pages: run scripts/setup "
                        "(it installs the Debian package help2man).")
endif()
set(KESTREL_MAN_DIR ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${KESTREL_MAN_DIR})
add_custom_command(
    OUTPUT ${KESTREL_MAN_DIR}/changelog.gz
    COMMAND ${KESTREL_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${KESTREL_MAN_DIR}/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
set(KESTREL_MAN_PAGES)
set(summary_kestrel "build and evaluate text classifiers over Chinese documents")
set(summary_kestrel-gui "desktop workbench for text classifiers over Chinese documents")
set(summary_kestrel-mkdict "build the data files of Kestrel's word segmenter")
set(subcommands_kestrel "train;classify;segment;svm-learn;svm-classify")
foreach(program IN LISTS KESTREL_PROGRAMS)
    set(page ${KESTREL_MAN_DIR}/${program}.1.gz)
    set(include ${CMAKE_SOURCE_DIR}/packaging/man/${program}.h2m)
    add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
                "-DSUMMARY=${summary_${program}}" -DINCLUDE=${include} -DOUTPUT=${page}
                "-DSUBCOMMANDS=${subcommands_${program}}"
                -DHELP2MAN=${KESTREL_HELP2MAN} -DGZIP=${KESTREL_GZIP}
                -P ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
        DEPENDS ${program} ${include} ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
        COMMENT "Writing the manual page of ${program}"
        VERBATIM)
    list(APPEND KESTREL_MAN_PAGES ${page})
endforeach()
add_custom_target(kestrel_man_pages ALL DEPENDS ${KESTREL_MAN_PAGES} ${KESTREL_MAN_DIR}/changelog.gz)
install(FILES ${KESTREL_MAN_PAGES} DESTINATION share/man/man1)
install(FILES ${KESTREL_MAN_DIR}/changelog.gz DESTINATION share/doc/kestrel)

# The desktop entry and the icon, drawn by the program's own code.
if(TARGET kestrel-gui)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tools/icon ${CMAKE_BINARY_DIR}/tools/icon)
    install(DIRECTORY ${KESTREL_ICON_DIR}/hicolor DESTINATION share/icons)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrel.desktop DESTINATION share/applications)
endif()

# The Debian package: scripts/package runs cpack with this configuration.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrel developers <kestrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "workbench for text classifiers over Chinese documents")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrel builds and evaluates text classifiers over Chinese documents: its
own dictionary-based word segmenter, stop words, a feature index, feature
selection (chi-square, information gain, mutual information, rough-set
reduction), KNN or one-versus-rest SVM classifiers, classification of a
second corpus and evaluation (confusion matrix, recall, precision, F1,
chart, spreadsheet export).

The package holds the desktop program kestrel-gui, the command line
kestrel, kestrel-mkdict that rebuilds the segmenter's data, the data itself
and a small sample corpus.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Library dependencies come from dpkg-shlibdeps (Debian's libqt6gui6 holds
# the X11 platform plugin itself).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-jieba")
if(TARGET kestrel_python)
    # The Python module is built for Debian's python3 (3.11); its wrappers
    # use scikit-learn and Dask where they are installed.
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS
        "python3-jieba, python3 (>= 3.11~), python3 (<< 3.12), python3-sklearn, python3-dask, python3-distributed")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(KESTREL_TESTS)
    add_test(NAME install_prefix
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install/check-install ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    add_test(NAME debian_package
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install/check-package ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    set_tests_properties(install_prefix debian_package PROPERTIES TIMEOUT 600)
endif()
