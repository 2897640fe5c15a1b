# The commands' bash completion, driven as bash drives it, on each built
# command.
get_property(commands GLOBAL PROPERTY VZ_INSTALLED_COMMANDS)
set(command_files)
foreach(command IN LISTS commands)
  list(APPEND command_files $<TARGET_FILE:${command}>)
endforeach()
add_test(NAME completion_bash
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/completion-test.sh ${PROJECT_SOURCE_DIR}/completions
                 ${PROJECT_SOURCE_DIR}/examples/root ${command_files})
