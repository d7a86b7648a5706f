# cmake -DINPUT=<file> -DOUTPUT=<file> -P truncate.cmake: writes the first
# half of INPUT to OUTPUT, a pack damaged in the middle of its entries.
file(SIZE "${INPUT}" size)
math(EXPR keep "${size} / 2")
execute_process(COMMAND head -c ${keep} "${INPUT}" OUTPUT_FILE "${OUTPUT}"
                COMMAND_ERROR_IS_FATAL ANY)
