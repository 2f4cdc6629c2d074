# Regenerates the sample program folder into OUT with the command samples/README.md records and
# compares it byte for byte with the committed files in SAMPLE. EMULATOR, when set, runs the
# generator (wine for a Windows build).
file(REMOVE_RECURSE ${OUT})
execute_process(
  COMMAND ${EMULATOR} ${GENSTORE} --mix varied --count 40 --seed 20261208 --mixed
          --no-id-every 13 --duplicate-id-every 17 --program-dir ${OUT} --mailbox mailbox
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "qvrepair-genstore failed: ${rc}")
endif()
foreach(name profile.dat mailbox.idx mailbox.mbx)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/profile/default/${name}
            ${SAMPLE}/profile/default/${name}
    RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "samples/program/profile/default/${name} differs from what the "
                        "generator makes now; regenerate it as samples/README.md says")
  endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
message(STATUS "the sample matches the generator")
