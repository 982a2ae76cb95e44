# Fails unless the dynamic symbols the library defines are exactly the nine
# entry points. Run with -DNM=<nm> -DLIBRARY=<path>.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${listing}")
set(found "")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  list(APPEND found "${name}")
endforeach()
list(SORT found)
set(expected BASS_ASIO_ChannelEnable BASS_ASIO_ChannelGetFormat BASS_ASIO_ChannelGetInfo
  BASS_ASIO_ControlPanel BASS_ASIO_Free BASS_ASIO_GetDeviceInfo BASS_ASIO_Init BASS_ASIO_Start BASS_ASIO_Stop)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
