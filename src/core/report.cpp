// The reporter: formats diagnostics and routes them to stderr and to `Log addResult`.
#include "core/report.h"

#include <tcl.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <ctime>
#include <strings.h>

namespace zm {
namespace {

struct TypeRow {
    const char* name;
    const char* alias;
    int threshold;
};
constexpr TypeRow kTypes[kMsgTypeCount] = {
    {"Fault", "LOG_FAULT", 4},  {"Error", "LOG_ERROR", 4}, {"Warning", "LOG_WARNING", 4},
    {"Passed", "LOG_PASSED", 4}, {"Failed", "LOG_FAILED", 4}, {"Info", "LOG_INFO", 3},
    {"Trace", "LOG_TRACE", 2},  {"Debug", "LOG_DEBUG", 1}, {"Code", "LOG_CODE", 0},
};
struct LevelRow {
    const char* name;
    const char* alias;
};
constexpr LevelRow kLevels[kLogLevelCount] = {
    {"All", "LOG_ALL"}, {"Debug", "LOG_DEB"}, {"Low", "LOG_LOW"},
    {"Med", "LOG_MED"}, {"High", "LOG_HIGH"}, {"None", "LOG_NONE"},
};

ReportCapture* g_capture_top = nullptr;  // innermost test capture, if any

bool prefix_match(const char* text, const char* word) {
    size_t n = std::strlen(text);
    return std::strlen(word) >= n && strncasecmp(text, word, n) == 0;
}

std::string vformat(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

void dispatch(Tcl_Interp* interp, const char* module, int line, int type, const std::string& message,
              const char* os_error) {
    LogSettings& s = log_settings();
    if (type < 0 || type >= kMsgTypeCount) type = LOG_FAULT;
    std::string text = kTypes[type].name;
    text += ": ";
    if (s.tstamp) {
        char when[64];
        std::time_t now = std::time(nullptr);
        std::tm tmv{};
        localtime_r(&now, &tmv);
        std::strftime(when, sizeof when, "%X %m/%d/%y ", &tmv);
        text += when;
    }
    if (s.fileinfo) {
        text += module ? module : "";
        text += ':';
        text += std::to_string(line);
        text += ' ';
    }
    text += message;
    if (os_error) {
        text += "; ";
        text += os_error;
    }
    text += '.';

    if (!interp) interp = s.default_interp;
    if (s.enabled && interp) {
        // The line goes to the script library as one word of a list, so braces,
        // brackets, quotes or '$' in a message are data, never script code.
        Tcl_Obj* words[] = {Tcl_NewStringObj("Log", -1), Tcl_NewStringObj("addResult", -1),
                            Tcl_NewStringObj(module ? module : "", -1),
                            Tcl_NewStringObj(kTypes[type].name, -1),
                            Tcl_NewStringObj(text.c_str(), static_cast<int>(text.size()))};
        for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
        Tcl_Obj* saved = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(saved);
        Tcl_EvalObjv(interp, 5, words, TCL_EVAL_GLOBAL);
        Tcl_SetObjResult(interp, saved);
        Tcl_DecrRefCount(saved);
        for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
    }
    if (kTypes[type].threshold >= s.level) {
        if (g_capture_top) g_capture_top->lines.push_back({type, text});
        if (s.have_channel) {
            Tcl_Channel chan = Tcl_GetStdChannel(TCL_STDERR);
            if (chan) {
                std::string out = text + "\n";
                Tcl_WriteChars(chan, out.c_str(), static_cast<int>(out.size()));
                Tcl_Flush(chan);
            }
        } else if (!g_capture_top) {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }
}

}  // namespace

LogSettings& log_settings() {
    static LogSettings settings;
    return settings;
}

int find_msg_type(const char* text) {
    for (int i = 0; i < kMsgTypeCount; ++i)
        if (prefix_match(text, kTypes[i].name) || prefix_match(text, kTypes[i].alias)) return i;
    return -1;
}

int find_log_level(const char* text) {
    for (int i = 0; i < kLogLevelCount; ++i)
        if (prefix_match(text, kLevels[i].name) || prefix_match(text, kLevels[i].alias)) return i;
    return -1;
}

const char* msg_type_name(int type) {
    return (type >= 0 && type < kMsgTypeCount) ? kTypes[type].name : "Fault";
}

const char* log_level_alias(int level) {
    return (level >= 0 && level < kLogLevelCount) ? kLevels[level].alias : "LOG_MED";
}

int report_failure(Tcl_Interp* interp, const char* module, int line, int type, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, ap);
    va_end(ap);
    report(interp, module, line, type, "%s", text.c_str());
    if (interp) Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_ERROR;
}

void report(Tcl_Interp* interp, const char* module, int line, int type, const char* fmt, ...) {
    const LogSettings& s = log_settings();
    if (s.level == 5) return;
    if (type >= 0 && type < kMsgTypeCount && kTypes[type].threshold < 1 && s.level != 0) return;
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    dispatch(interp, module, line, type, message, nullptr);
}

void report_os_error(Tcl_Interp* interp, const char* module, int line, const char* fmt, ...) {
    int saved_errno = errno;
    if (log_settings().level == 5) return;
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    dispatch(interp, module, line, LOG_FAULT, message, std::strerror(saved_errno));
}

ReportCapture::ReportCapture() : prev_(g_capture_top) { g_capture_top = this; }
ReportCapture::~ReportCapture() { g_capture_top = prev_; }
bool ReportCapture::contains(const std::string& fragment) const {
    for (const Line& l : lines)
        if (l.text.find(fragment) != std::string::npos) return true;
    return false;
}

}  // namespace zm
