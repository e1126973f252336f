# Writes the help2man include file that adds every command's --help to the
# man page, so that the page and the help come from the same text.
#   cmake -DMORVIK=path/to/morvik -DOUT=commands.h2m -P man.cmake
# The overview's examples and exit statuses keep their lines.
execute_process(COMMAND "${MORVIK}" --help OUTPUT_VARIABLE overview)
string(REGEX MATCH "Examples:\n(.*)Run 'morvik" examples "${overview}")
set(text "[=EXAMPLES]\n.nf\n${CMAKE_MATCH_1}.fi\nRun 'morvik COMMAND --help' for each command.\n\n")
string(REGEX MATCH "Exit status:\n(.*)$" statuses "${overview}")
string(APPEND text "[EXIT STATUS]\n.nf\n${CMAKE_MATCH_1}.fi\n\n[COMMANDS]\n")
foreach(command "encrypt" "decrypt" "hex encode" "hex decode" "asc encode" "asc decode")
  separate_arguments(args UNIX_COMMAND "${command} --help")
  execute_process(COMMAND "${MORVIK}" ${args} OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "morvik ${command} --help failed")
  endif()
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS \"morvik ${command}\"\n.nf\n${help}.fi\n")
endforeach()
file(WRITE "${OUT}" "${text}")
