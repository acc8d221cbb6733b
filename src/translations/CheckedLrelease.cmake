# Compiles the catalogue TS into QM with LRELEASE. Anything lrelease warns of, and any text left
# untranslated or unfinished, fails the build: an English run would show Japanese there.
get_filename_component(folder ${QM} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${LRELEASE} ${TS} -qm ${QM}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT errors STREQUAL ""
   OR output MATCHES "[1-9][0-9]* unfinished|Ignored|[Ww]arning|[Dd]ropped"
   OR NOT output MATCHES "Generated [1-9][0-9]* translation")
  file(REMOVE ${QM})
  message(FATAL_ERROR "lrelease ${TS}:\n${output}${errors}")
endif()
