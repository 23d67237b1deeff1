// Status codes of the program that reach the exit status.
#pragma once

enum : int {
    TF_OK = 0,
    TF_STATUS_INIT_FAILED = 1,
    TF_STATUS_CTRL_FILE_MISSING = 4,
    TF_STATUS_CONFIG_MISSING = 5,
    TF_STATUS_INVALID_CMDLINE = 7,
    TF_STATUS_NO_HBA = 8,
    TF_STATUS_NO_MEMORY = 10,
    TF_STATUS_BAD_ADAPTER_OPERAND = 16,
    TF_STATUS_UNKNOWN_COMMAND = -1,
};
