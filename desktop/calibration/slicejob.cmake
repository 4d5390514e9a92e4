# Slices one calibration job with the desktop's own slicer; the build runs it once per job.
#   cmake -DCLI=tessora-cli -DMODEL=model.stl -DJOB=job.ssj -DLAYER=20|50|100 [-DPRINTER75=ON] -P slicejob.cmake
# The slicer's progress is kept out of the build log unless slicing fails.
foreach(variable CLI MODEL JOB LAYER)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "slicejob.cmake: ${variable} is not set")
    endif()
endforeach()
# A sanitizer build of the slicer must not fail the build over allocations Qt keeps at exit.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
set(arguments slice "${MODEL}" -o "${JOB}" --layer "${LAYER}")
if(PRINTER75)
    list(APPEND arguments --printer-75)
endif()
execute_process(COMMAND "${CLI}" ${arguments}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    file(REMOVE "${JOB}")
    message(FATAL_ERROR "slicing ${JOB} failed (${result}):\n${output}${errors}")
endif()
