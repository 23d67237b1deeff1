#include "app/cmdline.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "app/output.h"
#include "app/settings.h"
#include "app/status.h"

namespace {

// Positional arguments: owned copies, in command-line order.
std::unique_ptr<char[]> g_positional[MAX_POSITIONAL_ARGS];
uint16_t g_positionalCount = 0;

const char kInvalidOptions[] = "Invalid/Unknown command line options!";
const char kLogFileName[] = "tarnikflasher.log";

bool IsOneOf(const char *arg, std::initializer_list<const char *> words) {
    for (const char *w : words)
        if (StrCompareNoCase(arg, w) == 0) return true;
    return false;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Invalid() {
    CoreTrace(LEVEL_DEBUG, "%s", kInvalidOptions);
    return TF_STATUS_INVALID_CMDLINE;
}

// Set when -trace could not open the log file; reported once the whole
// line is read, so that a later -s silences the report too.
bool g_logOpenFailed = false;

// Opens the log file for -trace. A log file that can't be opened leaves
// the messages on the console (the command still runs).
void OpenLogFile() {
    char name[256] = {};
    std::snprintf(name, sizeof name, "%s", kLogFileName);
    if (g_pLogFile != nullptr) {
        std::fclose(g_pLogFile);
        g_pLogFile = nullptr;
    }
    g_pLogFile = std::fopen(name, "a+");
    g_logOpenFailed = g_pLogFile == nullptr;
}

int ParseAdapterWWN(const char *text) {
    std::memset(g_AdapterWWN, 0, sizeof g_AdapterWWN);
    if (StringToWWN(text, g_AdapterWWN) == 0) {
        const uint8_t *w = g_AdapterWWN;
        OutputLevelMessage(LEVEL_DEBUG, "WWN=%02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X", w[0], w[1], w[2], w[3], w[4],
                           w[5], w[6], w[7]);
        g_iAdapterSelect = ADAPTER_SELECT_WWN;
        return 0;
    }
    const uint8_t *w = g_AdapterWWN;
    std::snprintf(g_szCmdLineError, sizeof g_szCmdLineError, "Invalid HBA WWN %02X-%02X-%02X-%02X-%02X-%02X-%02X-%02X!",
                  w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    return TF_STATUS_BAD_ADAPTER_OPERAND;
}

int ParseAdapterInstance(const char *text) {
    int value = 0;
    bool valid = text[0] != '\0';
    for (const char *p = text; *p != '\0' && valid; ++p) {
        if (*p < '0' || *p > '9') {
            valid = false;
        } else {
            value = value * 10 + (*p - '0');
            if (value > MAX_ADAPTER_INSTANCE) valid = false; // also keeps long digit runs from overflowing
        }
    }
    if (!valid) {
        std::snprintf(g_szCmdLineError, sizeof g_szCmdLineError, "HBA number must be from 0 to %d!",
                      MAX_ADAPTER_INSTANCE);
        return TF_STATUS_BAD_ADAPTER_OPERAND;
    }
    g_iAdapterSelect = ADAPTER_SELECT_INSTANCE;
    g_iAdapterInstance = value;
    return 0;
}

void SetMBIFile(const char *text) {
    std::memset(g_szMBIFile, 0, sizeof g_szMBIFile);
    if (text != nullptr) std::strncpy(g_szMBIFile, text, sizeof g_szMBIFile - 1);
}

int SelectAdapter(const char *text) {
    if (ParseAdapterSelector(text) != 0) {
        OutputLevelMessage(LEVEL_ERROR, "%s", g_szCmdLineError);
        return TF_STATUS_BAD_ADAPTER_OPERAND;
    }
    return 0;
}

} // namespace

int StrCompareNoCase(const char *a, const char *b) {
    if (a == nullptr || b == nullptr || a[0] == '\0' || b[0] == '\0') return -1;
    size_t n = std::strlen(a);
    if (std::strlen(b) != n) return -1;
    for (size_t i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return -1;
    }
    return 0;
}

int StringToWWN(const char *text, uint8_t out[8]) {
    if (text == nullptr || out == nullptr) return -1;
    size_t len = std::strlen(text);
    if (len == 23) {
        for (int group = 0; group < 8; ++group) {
            size_t pos = static_cast<size_t>(group) * 3;
            if (group > 0 && text[pos - 1] != '-') {
                CoreTrace(LEVEL_DEBUG, "%s character position %d is not a hyphen!", text, static_cast<int>(pos));
                return -1;
            }
            int hi = HexValue(text[pos]), lo = HexValue(text[pos + 1]);
            if (hi < 0 || lo < 0) {
                CoreTrace(LEVEL_DEBUG, "%s is not in valid hex format.", text);
                return -1;
            }
            out[group] = static_cast<uint8_t>(hi * 16 + lo);
        }
        return 0;
    }
    if (len == 16) {
        for (int i = 0; i < 8; ++i) {
            int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
            if (hi < 0 || lo < 0) {
                CoreTrace(LEVEL_DEBUG, " %s is not in valid hex format.", text);
                return -1;
            }
            out[i] = static_cast<uint8_t>(hi * 16 + lo);
        }
        return 0;
    }
    CoreTrace(LEVEL_DEBUG, "*** invalid WWN %s!", text);
    return -1;
}

int ParseAdapterSelector(const char *text) {
    g_szCmdLineError[0] = '\0';
    if (text == nullptr) return TF_STATUS_BAD_ADAPTER_OPERAND;
    if (StrCompareNoCase(text, "ALL") == 0) {
        g_iAdapterSelect = ADAPTER_SELECT_ALL;
        return 0;
    }
    size_t len = std::strlen(text);
    if (len == 16 || len == 23) return ParseAdapterWWN(text);
    return ParseAdapterInstance(text);
}

int GetPositionalCount() { return g_positionalCount; }

const char *GetPositionalArg(int index) {
    if (index < 0 || index >= g_positionalCount) return nullptr;
    return g_positional[index].get();
}

void FreePositionalArgs() {
    for (auto &slot : g_positional)
        slot.reset();
    g_positionalCount = 0;
}

int ParseOptionFlags(int argc, char **argv) {
    FreePositionalArgs();
    int result = 0;
    if (argc < 2 || argv == nullptr) return result;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i] != nullptr ? argv[i] : "";
        if (IsOneOf(arg, {"-h", "-?", "/h", "/?"})) {
            g_iCommand = CMD_USAGE;
            return 1;
        }
        if (IsOneOf(arg, {"-v", "/v"})) {
            g_iCommand = CMD_VERSION;
            return 2;
        }
        if (IsOneOf(arg, {"-s", "/s"})) {
            g_bSilent = 1;
        } else if (IsOneOf(arg, {"-debug", "/debug"})) {
            g_bDebug = 1;
        } else if (IsOneOf(arg, {"-trace", "/trace"})) {
            g_bDebug = 1;
            OpenLogFile();
        } else if (IsOneOf(arg, {"-all", "/all", "--ports", "/ports"})) {
            g_bAllPorts = 1;
        } else if (IsOneOf(arg, {"--24xx", "/24xx"})) {
            g_iFamilyType = 4;
        } else if (IsOneOf(arg, {"--25xx", "/25xx"})) {
            g_iFamilyType = 5;
        } else if (IsOneOf(arg, {"--81xx", "/81xx"})) {
            g_iFamilyType = 1;
        } else if (IsOneOf(arg, {"--82xx", "/82xx"})) {
            g_iFamilyType = 2;
        } else if (IsOneOf(arg, {"--83xx", "/83xx"})) {
            g_iFamilyType = 3;
        } else if (IsOneOf(arg, {"--26xx", "/26xx"})) {
            g_iFamilyType = 8;
        } else if (IsOneOf(arg, {"--27xx", "/27xx"})) {
            g_iFamilyType = 7;
#ifndef TF_EARLIER_RELEASE
        } else if (IsOneOf(arg, {"--28xx", "/28xx"})) {
            g_iFamilyType = 9;
#endif
        } else if (IsOneOf(arg, {"--force", "/force"})) {
            g_bForce = 1;
        } else if (arg[0] != '\0') {
            size_t len = std::strlen(arg);
            std::unique_ptr<char[]> copy(new (std::nothrow) char[len + 1]);
            if (!copy) return TF_STATUS_NO_MEMORY;
            std::memcpy(copy.get(), arg, len + 1);
            g_positional[g_positionalCount] = std::move(copy);
            ++g_positionalCount;
            if (g_positionalCount >= MAX_POSITIONAL_ARGS) return Invalid();
        }
    }
    return result;
}

int ParseCommand() {
    const int count = g_positionalCount;
    if (count == 0) {
        g_iCommand = CMD_DEFAULT_UPDATE;
        g_iFlashMode = 0;
        return 0;
    }
    const char *word = g_positional[0].get();
    int mode = 0;
    if (IsOneOf(word, {"-f", "/f"}))
        mode = 1;
    else if (IsOneOf(word, {"-e", "/e"}))
        mode = 2;
    else if (IsOneOf(word, {"-g", "/g"}))
        mode = 3;
    if (mode != 0) {
        if (count != 1) return Invalid();
        g_iFlashMode = mode;
        g_iCommand = CMD_DEFAULT_UPDATE;
        return 0;
    }
    if (IsOneOf(word, {"-b", "/b"})) {
        if (count != 3) return Invalid();
        int rc = SelectAdapter(g_positional[1].get());
        if (rc != 0) return rc;
        SetMBIFile(g_positional[2].get());
        g_iCommand = CMD_TARGETED_UPDATE;
        return 0;
    }
    int code = 0;
    if (IsOneOf(word, {"-l", "/l"}))
        code = CMD_HOST_INFO;
    else if (IsOneOf(word, {"-i", "/i"}))
        code = CMD_HBA_INFO;
    else if (IsOneOf(word, {"-q", "/q"}))
        code = CMD_MBI_VERSION;
    else if (IsOneOf(word, {"-pbc", "/pbc"}))
        code = CMD_PEP_VERSION;
    if (code != 0) {
        g_iCommand = code;
        return count > 1 ? Invalid() : 0;
    }
    if (IsOneOf(word, {"-fdt", "/fdt"})) {
        g_iCommand = CMD_FDT;
        if (count < 2) return Invalid();
        int rc = SelectAdapter(g_positional[1].get());
        if (rc != 0) return rc;
        SetMBIFile(count >= 3 ? g_positional[2].get() : nullptr);
        return 0;
    }
    return Invalid();
}

int ParseCommandLine(int argc, char **argv) {
    g_iCommand = 0;
    g_iFlashMode = 0;
    g_logOpenFailed = false;
    int result = ParseOptionFlags(argc, argv);
    if (g_logOpenFailed) OutputLevelMessage(LEVEL_WARNING, "Unable to open log file %s!", kLogFileName);
    if (result == 0) result = ParseCommand();
    FreePositionalArgs();
    return result;
}

void PrintUsage() {
    OutputLevelMessage(LEVEL_PLAIN, "%s\n", "NAME");
    OutputLevelMessage(LEVEL_PLAIN, "%s - %s\n", "tarnikflasher", "Orvane Flash (Firmware Component) Update Utility");
    OutputLevelMessage(LEVEL_PLAIN, "%s\n", "SYNOPSIS");
    OutputLevelMessage(LEVEL_PLAIN, "%s %s\n", "tarnikflasher", "[OPTION]");
    static const char *const kLines[] = {
        "\r\nOPTIONS:\r\n\n",
        "    Default: Invoked with no parameter\r\n",
        "    Force to write a known firmware version to all HBAs that are currently\r",
        "    down revision.\r\n",
        " /f Write:\r\n",
        "    Force to write a known firmware version to all HBAs (No revision check).\r\n",
        " /e Rewrite:\r\n",
        "    Force to rewrite the firmware to all HBAs that are at revision. Only\r",
        "    HBAs that are down revision will be upgraded. HBAs that are up\r",
        "    revision will be left alone.\r\n",
        " /g Downgrade:\r\n",
        "    Force to downgrade the firmware of HBAs that are up revision to\r",
        "    a current known revision. HBAs that are down revision are upgraded\r",
        "    and HBAs that are at revision will be left alone.\r\n",
        " /l Host Information:\r\n",
        "    Display Host information.\r\n",
        " /i HBA Information:\r\n",
        "    Display general information of all HBAs.\r\n",
        " /q Multiboot Image Version Info:\r\n",
        "    Display Multiboot Image version.\r\n",
        " /v Version infomation:\r\n",
        "    Display application version.\r\n",
        " /s Silent Mode:\r\n",
        "    Suppress all outputs.\r\n",
        " /b <hba instance> | <hba WWPN> <MBI file> [<hba family type>]\r\n",
        "    <hba instance>: Adapter port instance number.\r\n",
        "    <hba WWPN>: Adapter port world wide port name.\r\n",
        "    <MBI file>: Multiboot image file.\t\n",
        "    [hba family type]: Optional\r\n",
        "         If specified, update only adapters that match the hba\r\n",
        "         family model as below.\r\n",
        "               /24xx: Update 24xx FC adapter model type.\r\n",
        "               /25xx: Update 25xx FC adapter model type.\r\n",
        "               /81xx: Update 81xx CNA adapter model type.\r\n",
        "               /82xx: Update 82xx CNA adapter model type.\r\n",
        "               /83xx: Update 26xx/83xx FC/CNA adapter model type.\r\n",
        "               /27xx: Update 27xx FC adapter model type.\r\n",
#ifndef TF_EARLIER_RELEASE
        "               /28xx: Update 28xx FC adapter model type.\r\n",
#endif
    };
    for (const char *line : kLines)
        OutputLevelMessage(LEVEL_PLAIN, "%s", line);
}
