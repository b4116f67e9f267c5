# Splits the program at install time as Debian's dh_strip splits an executable: its debug
# information, compressed, goes to /usr/lib/debug/.build-id/XX/REST.debug (named by the
# program's build id, where gdb and debuginfod clients look), and the installed program loses
# its symbols and its .comment and .note sections and gains a link to that file.
# Set by the install code (Packaging.cmake): split_program (the built program), split_dir (a
# folder of the build for the debug file), split_part (program: strip the installed copy
# split_installed; symbols: install the debug file under split_debug_root, to which file(INSTALL)
# adds DESTDIR itself).
find_program(split_objcopy objcopy REQUIRED)
find_program(split_strip strip REQUIRED)
find_program(split_readelf readelf REQUIRED)

function(split_run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${ARGN} failed (${result}): ${errors}")
    endif()
endfunction()

execute_process(COMMAND "${split_readelf}" --notes "${split_program}" OUTPUT_VARIABLE notes RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${split_program} has no build id: its debug symbols could not be found by it")
endif()
set(build_id_dir "${CMAKE_MATCH_1}")
set(debug_file "${split_dir}/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug")

# Both parts make the same file from the same program (the packages are installed one by one);
# the files of earlier builds go.
file(REMOVE_RECURSE "${split_dir}")
file(MAKE_DIRECTORY "${split_dir}/${build_id_dir}")
split_run("${split_objcopy}" --only-keep-debug --compress-debug-sections "${split_program}" "${debug_file}")

if(split_part STREQUAL "program")
    split_run("${split_strip}" --remove-section=.comment --remove-section=.note "${split_installed}")
    split_run("${split_objcopy}" --add-gnu-debuglink "${debug_file}" "${split_installed}")
elseif(split_part STREQUAL "symbols")
    file(INSTALL "${debug_file}" DESTINATION "${split_debug_root}/.build-id/${build_id_dir}"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
else()
    message(FATAL_ERROR "split_part must be program or symbols, not '${split_part}'")
endif()
