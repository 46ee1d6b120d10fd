# Writes a program's compressed manual page with help2man from its --help and
# --version, adding the sections of an include file and, for a program with
# subcommands, the --help of each subcommand.
#
#   cmake -DPROGRAM=… -DNAME=… -DSUMMARY=… -DINCLUDE=… -DOUTPUT=…/prog.1.gz
#         [-DSUBCOMMANDS="a;b"] -DHELP2MAN=… -DGZIP=… -P ManPage.cmake

get_filename_component(page ${OUTPUT} NAME_WLE)
get_filename_component(dir ${OUTPUT} DIRECTORY)
set(include_file ${dir}/${page}.h2m)
file(READ ${INCLUDE} sections)

if(SUBCOMMANDS)
    string(APPEND sections "\n[COMMANDS]\n")
    foreach(command IN LISTS SUBCOMMANDS)
        execute_process(COMMAND ${PROGRAM} ${command} --help
            OUTPUT_VARIABLE help RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${PROGRAM} ${command} --help failed (${status})")
        endif()
        # Literal text for roff: backslashes escaped, no line read as a request.
        string(REPLACE "\\" "\\e" help "${help}")
        string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
        string(APPEND sections ".SS \"${NAME} ${command}\"\n.nf\n${help}.fi\n")
    endforeach()
endif()
file(WRITE ${include_file} "${sections}")

execute_process(
    COMMAND ${HELP2MAN} --no-info --name=${SUMMARY} --include=${include_file}
            --output=${dir}/${page} ${PROGRAM}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man could not write the manual page of ${PROGRAM}")
endif()
execute_process(COMMAND ${GZIP} -9nf ${dir}/${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${dir}/${page}")
endif()
