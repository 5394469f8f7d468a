// The reporter: every diagnostic of the extension, with its type, module and line.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct Tcl_Interp;

namespace zm {

// Message types, in table order (the code is what callers pass).
enum MsgType {
    LOG_FAULT = 0,
    LOG_ERROR,
    LOG_WARNING,
    LOG_PASSED,
    LOG_FAILED,
    LOG_INFO,
    LOG_TRACE,
    LOG_DEBUG,
    LOG_CODE,
};
constexpr int kMsgTypeCount = 9;
constexpr int kLogLevelCount = 6;

// Writes one line "Type: [time] [module:line] message." to the log channel
// when the current level lets the type through, and hands it to the script's
// `Log addResult` when LOG_ENABLED is set. `interp` may be null (the default
// interpreter is used). The line is built in a growing string: no length limit.
void report(Tcl_Interp* interp, const char* module, int line, int type, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// As report with type Fault, with "; <system error text>" appended for the
// errno value current at the call.
void report_os_error(Tcl_Interp* interp, const char* module, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// As report, and leaves the message (without type or full stop) as the
// interpreter's result; returns TCL_ERROR, for a command's failing return.
int report_failure(Tcl_Interp* interp, const char* module, int line, int type, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// Looks a text up in the message-type table or the log-level table: a
// case-insensitive prefix of a name or alias, rows in order. -1 when none.
int find_msg_type(const char* text);
int find_log_level(const char* text);
const char* msg_type_name(int type);
const char* log_level_alias(int level);

// The process-wide log settings; the logging group links the Tcl variables to them.
struct LogSettings {
    int level = 3;          // Med
    int enabled = 0;        // LOG_ENABLED
    int tstamp = 1;         // ZM_LOG_TSTAMP
    int fileinfo = 1;       // ZM_LOG_FILEINFO
    Tcl_Interp* default_interp = nullptr;
    bool have_channel = false;  // set when the interpreter has a standard error channel
};
LogSettings& log_settings();

// Test hook: while one exists, every line that passes the print gate is
// appended to `lines` (type, text without the trailing newline) in addition
// to the normal output.
class ReportCapture {
public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;
    struct Line {
        int type;
        std::string text;
    };
    std::vector<Line> lines;
    bool contains(const std::string& fragment) const;

private:
    ReportCapture* prev_;
};

}  // namespace zm

#define ZM_REPORT(interp, module, type, ...) ::zm::report((interp), (module), __LINE__, (type), __VA_ARGS__)
