# Writes the source that carries the program's build time (seconds since
# 1970, UTC) for the version banner. Usage: cmake -DOUT=<file> -P build_stamp.cmake
string(TIMESTAMP now "%s" UTC)
file(WRITE ${OUT} "// Generated at build time.\nlong long TfBuildEpoch();\nlong long TfBuildEpoch() { return ${now}; }\n")
