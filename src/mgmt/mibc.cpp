// The MIB-text compiler: reads SMI module text token by token and writes the
// object and attribute lines of the index file.
#include "mgmt/mibc.h"

#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "mgmt/mib_scan.h"

namespace zm {
namespace {

constexpr size_t kMaxText = 64u << 20;   // largest module file read
constexpr size_t kMaxOidParts = 128;     // longest OID an SNMP agent can name
constexpr int kMaxImportDepth = 32;

enum Kind { tEnd, tName, tNumber, tQuoted, tLParen, tRParen, tLBrace, tRBrace, tComma, tSemi, tKeyword };

enum Kw {
    kwNone,
    kwDefinitions, kwBegin, kwEnd, kwImports, kwFrom, kwExports, kwAssign, kwMacro,
    kwSyntax, kwAccess, kwMaxAccess, kwStatus, kwDescription, kwDisplayHint, kwEnterprise,
    kwObjectType, kwObjectIdentity, kwObjectGroup, kwNotificationGroup, kwModuleCompliance,
    kwAgentCapabilities, kwModuleIdentity, kwNotificationType, kwTrapType, kwTextualConvention,
    kwSequence, kwOf, kwChoice, kwObjectIdentifier, kwOctetString, kwBitString,
    kwOther,  // clause words that only need to be passed over
};

struct KeywordRow {
    const char* word;
    Kw kw;
};

constexpr KeywordRow kKeywords[] = {
    {"DEFINITIONS", kwDefinitions}, {"BEGIN", kwBegin}, {"END", kwEnd}, {"IMPORTS", kwImports},
    {"FROM", kwFrom}, {"EXPORTS", kwExports}, {"::=", kwAssign}, {"MACRO", kwMacro},
    {"SYNTAX", kwSyntax}, {"ACCESS", kwAccess}, {"MAX-ACCESS", kwMaxAccess}, {"STATUS", kwStatus},
    {"DESCRIPTION", kwDescription}, {"DISPLAY-HINT", kwDisplayHint}, {"ENTERPRISE", kwEnterprise},
    {"OBJECT-TYPE", kwObjectType}, {"OBJECT-IDENTITY", kwObjectIdentity},
    {"OBJECT-GROUP", kwObjectGroup}, {"NOTIFICATION-GROUP", kwNotificationGroup},
    {"MODULE-COMPLIANCE", kwModuleCompliance}, {"AGENT-CAPABILITIES", kwAgentCapabilities},
    {"MODULE-IDENTITY", kwModuleIdentity}, {"NOTIFICATION-TYPE", kwNotificationType},
    {"TRAP-TYPE", kwTrapType}, {"TEXTUAL-CONVENTION", kwTextualConvention},
    {"SEQUENCE", kwSequence}, {"OF", kwOf}, {"CHOICE", kwChoice},
    {"OBJECT IDENTIFIER", kwObjectIdentifier}, {"OCTET STRING", kwOctetString},
    {"BIT STRING", kwBitString},
    {"REFERENCE", kwOther}, {"INDEX", kwOther}, {"AUGMENTS", kwOther}, {"DEFVAL", kwOther},
    {"UNITS", kwOther}, {"IMPLIED", kwOther}, {"SIZE", kwOther}, {"VARIABLES", kwOther},
    {"OBJECTS", kwOther}, {"NOTIFICATIONS", kwOther}, {"LAST-UPDATED", kwOther},
    {"ORGANIZATION", kwOther}, {"CONTACT-INFO", kwOther}, {"REVISION", kwOther},
    {"MODULE", kwOther}, {"MANDATORY-GROUPS", kwOther}, {"GROUP", kwOther}, {"OBJECT", kwOther},
    {"MIN-ACCESS", kwOther}, {"WRITE-SYNTAX", kwOther}, {"PRODUCT-RELEASE", kwOther},
    {"SUPPORTS", kwOther}, {"INCLUDES", kwOther}, {"VARIATION", kwOther},
    {"CREATION-REQUIRES", kwOther}, {"IMPLICIT", kwOther}, {"EXPLICIT", kwOther},
    {"APPLICATION", kwOther},
};

Kw find_keyword(const std::string& word) {
    static const std::unordered_map<std::string_view, Kw> table = [] {
        std::unordered_map<std::string_view, Kw> t;
        for (const KeywordRow& row : kKeywords) t.emplace(row.word, row.kw);
        return t;
    }();
    auto it = table.find(word);
    return it == table.end() ? kwNone : it->second;
}

struct KnownOid {
    const char* name;
    const char* oid;
};

constexpr KnownOid kKnownOids[] = {
    {"iso", "1"}, {"org", "1.3"}, {"dod", "1.3.6"}, {"internet", "1.3.6.1"},
    {"directory", "1.3.6.1.1"}, {"mgmt", "1.3.6.1.2"}, {"mib-2", "1.3.6.1.2.1"},
    {"system", "1.3.6.1.2.1.1"}, {"interfaces", "1.3.6.1.2.1.2"}, {"at", "1.3.6.1.2.1.3"},
    {"ip", "1.3.6.1.2.1.4"}, {"icmp", "1.3.6.1.2.1.5"}, {"tcp", "1.3.6.1.2.1.6"},
    {"udp", "1.3.6.1.2.1.7"}, {"egp", "1.3.6.1.2.1.8"}, {"transmission", "1.3.6.1.2.1.10"},
    {"snmp", "1.3.6.1.2.1.11"}, {"experimental", "1.3.6.1.3"}, {"private", "1.3.6.1.4"},
    {"enterprises", "1.3.6.1.4.1"}, {"rmon", "1.3.6.1.2.1.16"}, {"statistics", "1.3.6.1.2.1.16.1"},
    {"history", "1.3.6.1.2.1.16.2"}, {"alarm", "1.3.6.1.2.1.16.3"}, {"host", "1.3.6.1.2.1.16.4"},
    {"hostTopN", "1.3.6.1.2.1.16.5"}, {"matrix", "1.3.6.1.2.1.16.6"}, {"filter", "1.3.6.1.2.1.16.7"},
    {"capture", "1.3.6.1.2.1.16.8"}, {"event", "1.3.6.1.2.1.16.9"},
};

struct SyntaxRow {
    const char* type;
    const char* code;
};

constexpr SyntaxRow kSyntaxCodes[] = {
    {"INTEGER", "INTEGER"}, {"Integer32", "INTEGER"}, {"Unsigned32", "INTEGER"},
    {"IpAddress", "IP_ADDR"}, {"NetworkAddress", "IP_ADDR"}, {"Counter", "COUNTER"},
    {"Counter32", "COUNTER"}, {"Counter64", "COUNTER"}, {"Gauge", "GAUGE"}, {"Gauge32", "GAUGE"},
    {"TimeTicks", "TICKS"}, {"Opaque", "OPAQUE"}, {"OCTET STRING", "OCT_STR"},
    {"DisplayString", "DSP_STR"}, {"OBJECT IDENTIFIER", "SNMP_ID"},
    // BITS travel as an OCTET STRING on the wire.
    {"BITS", "OCT_STR"},
};

const char* direct_syntax_code(const std::string& type) {
    for (const SyntaxRow& row : kSyntaxCodes)
        if (strcasecmp(type.c_str(), row.type) == 0) return row.code;
    return nullptr;
}

// An OCTET STRING textual convention whose hint shows it as text ("255a",
// "255t") is a display string.
bool text_hint(const std::string& hint) {
    size_t i = 1, n = hint.size();
    if (n < 4 || hint.front() != '"' || hint.back() != '"') return false;
    while (i < n - 1 && hint[i] >= '0' && hint[i] <= '9') ++i;
    return i > 1 && i == n - 2 && (hint[i] == 'a' || hint[i] == 't');
}

struct Token {
    Kind kind = tEnd;
    Kw kw = kwNone;
    std::string text;
    int line = 0;
};

// Raw scanner tokens turned into the compiler's: keywords looked up,
// OCTET/OBJECT/BIT joined with the word that completes them, one token of
// push-back.
class Lexer {
public:
    Lexer(std::string_view text) : scanner_(text.data(), text.size()) {}

    Token next() {
        ++count_;
        if (!back_.empty()) {
            Token t = std::move(back_.back());
            back_.pop_back();
            return t;
        }
        Token t = raw();
        const char* tail = t.text == "OCTET" ? "STRING" : t.text == "OBJECT" ? "IDENTIFIER"
                           : t.text == "BIT" ? "STRING" : nullptr;
        if (tail && (t.kind == tKeyword || t.kind == tName)) {
            Token u = raw();
            if (u.kind != tEnd && u.text == tail) {
                t.text += ' ';
                t.text += tail;
                t.kind = tKeyword;
                t.kw = find_keyword(t.text);
            } else {
                raw_back_ = std::move(u);
                have_raw_back_ = true;
            }
        }
        return t;
    }

    void unread(Token t) {
        --count_;
        back_.push_back(std::move(t));
    }

    const Token& peek() {
        Token t = next();
        unread(std::move(t));
        return back_.back();
    }

    int count() const { return count_; }

private:
    Token raw() {
        if (have_raw_back_) {
            have_raw_back_ = false;
            return std::move(raw_back_);
        }
        Token t;
        int kind = scanner_.next(t.text, t.line);
        switch (kind) {
        case kMibRawEnd: t.kind = tEnd; break;
        case kMibRawQuoted: t.kind = tQuoted; break;
        case kMibRawLParen: t.kind = tLParen; break;
        case kMibRawRParen: t.kind = tRParen; break;
        case kMibRawLBrace: t.kind = tLBrace; break;
        case kMibRawRBrace: t.kind = tRBrace; break;
        case kMibRawComma: t.kind = tComma; break;
        case kMibRawSemi: t.kind = tSemi; break;
        default: {
            t.kw = find_keyword(t.text);
            if (t.kw != kwNone) {
                t.kind = tKeyword;
            } else {
                bool digits = !t.text.empty();
                for (char c : t.text) digits = digits && c >= '0' && c <= '9';
                t.kind = digits ? tNumber : tName;
            }
        }
        }
        return t;
    }

    MibScanner scanner_;
    std::vector<Token> back_;
    Token raw_back_;
    bool have_raw_back_ = false;
    int count_ = 0;
};

enum AssignKind { aPlain, aObject };

// One OID assignment of a module, resolved when the module ends.
struct Assignment {
    AssignKind kind = aPlain;
    std::string label;
    std::string parent;  // empty when the value starts with a number
    std::string numbers;  // ".n.m" after the parent
    uint32_t last = 0;
    int line = 0;
    std::string syntax, access, status;
    std::string oid;  // set once resolved
};

// An assignment to `label` found on `line`, its value still to be read.
Assignment named_assignment(const std::string& label, int line, AssignKind kind = aPlain) {
    Assignment a;
    a.kind = kind;
    a.label = label;
    a.line = line;
    return a;
}

struct Fatal {};

class ModuleCompiler {
public:
    ModuleCompiler(MibCompiler& c, Lexer& lx, const std::string& file) : c_(c), lx_(lx), file_(file) {}

    // Compiles every module of the text; throws Fatal after printing.
    void run(std::string& out) {
        for (;;) {
            Token t = lx_.next();
            if (t.kind == tEnd) return;
            if (t.kind == tKeyword && t.kw == kwEnd) fail("%s: end before start of MIB.\n", file_.c_str());
            if (t.kind == tKeyword)
                fail("%s:%d: %s is a reserved word\n", file_.c_str(), t.line, t.text.c_str());
            if (t.kind != tName) fail("%s:%d: bad format in MIB header\n", file_.c_str(), t.line);
            header(t);
            body(out);
        }
    }

private:
    [[noreturn]] __attribute__((format(printf, 2, 3))) void fail(const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        say_v(fmt, ap);
        va_end(ap);
        throw Fatal{};
    }

    __attribute__((format(printf, 2, 3))) void say(const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        say_v(fmt, ap);
        va_end(ap);
    }

    void say_v(const char* fmt, va_list ap) {
        va_list copy;
        va_copy(copy, ap);
        int n = std::vsnprintf(nullptr, 0, fmt, copy);
        va_end(copy);
        if (n < 0) return;
        std::string line(size_t(n) + 1, '\0');
        std::vsnprintf(line.data(), line.size(), fmt, ap);
        line.resize(size_t(n));
        if (c_.diag)
            c_.diag(line);
        else
            std::fputs(line.c_str(), stderr);
    }

    void header(const Token& name) {
        Token t = lx_.next();
        if (!(t.kind == tKeyword && t.kw == kwDefinitions))
            fail("%s:%d: bad format in MIB header\n", file_.c_str(), t.line);
        t = lx_.next();
        // "IMPLICIT TAGS" and the like may stand between DEFINITIONS and ::=.
        for (int words = 0; words < 4 && t.kind != tEnd && !(t.kind == tKeyword && t.kw == kwAssign); ++words)
            t = lx_.next();
        if (!(t.kind == tKeyword && t.kw == kwAssign))
            fail("%s:%d: bad format in MIB header\n", file_.c_str(), t.line);
        t = lx_.next();
        if (!(t.kind == tKeyword && t.kw == kwBegin))
            fail("%s:%d: bad format in MIB header\n", file_.c_str(), t.line);
        c_.modules.insert(name.text);
        std::vector<std::string> imports;
        for (;;) {
            const Token& p = lx_.peek();
            if (p.kind != tKeyword || (p.kw != kwImports && p.kw != kwExports)) break;
            bool importing = p.kw == kwImports;
            lx_.next();
            for (;;) {
                t = lx_.next();
                if (t.kind == tEnd) fail("%s: Fatal: incomplete MIB\n", file_.c_str());
                if (t.kind == tSemi) break;
                if (importing && t.kind == tKeyword && t.kw == kwFrom) {
                    Token m = lx_.next();
                    if (m.kind != tName) fail("%s:%d: bad format in MIB header\n", file_.c_str(), m.line);
                    imports.push_back(m.text);
                }
            }
        }
        for (const std::string& m : imports) import(m);
    }

    void import(const std::string& module) {
        if (c_.modules.count(module) || c_.missing.count(module)) return;
        std::string path = c_.module_path ? c_.module_path(module) : std::string();
        std::string text;
        bool found = false;
        if (!path.empty() && c_.depth < kMaxImportDepth) {
            std::ifstream in(path, std::ios::binary);
            if (in) {
                text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
                found = text.size() <= kMaxText;
            }
        }
        if (!found) {
            if (c_.module_path) say("%s: imported module %s not found\n", file_.c_str(), module.c_str());
            c_.missing.insert(module);
            return;
        }
        c_.modules.insert(module);
        std::string discard;
        ++c_.depth;
        mib_compile_text(c_, text, path, discard);
        --c_.depth;
    }

    bool is(const Token& t, Kw kw) const { return t.kind == tKeyword && t.kw == kw; }

    // Skips a bracketed group whose opening token was just read.
    void skip_group(Kind open, Kind close) {
        int depth = 1;
        while (depth > 0) {
            Token t = lx_.next();
            if (t.kind == tEnd) {
                lx_.unread(t);
                return;
            }
            if (t.kind == open) ++depth;
            if (t.kind == close) --depth;
        }
    }

    // Passes over the group that `t`, when it is an opening bracket, starts.
    void skip_if_group(const Token& t) {
        if (t.kind == tLParen) skip_group(tLParen, tRParen);
        if (t.kind == tLBrace) skip_group(tLBrace, tRBrace);
    }

    // The next token of a macro's clauses before its ::=, bracketed groups
    // passed over; the end of the module before the ::= is fatal.
    Token header_token() {
        Token t = lx_.next();
        if (t.kind == tEnd || is(t, kwEnd) || is(t, kwDefinitions))
            fail("%s:%d: ::= missing in OBJECT-TYPE header\n", file_.c_str(), t.line);
        skip_if_group(t);
        return t;
    }

    void skip_macro() {
        for (;;) {
            Token t = lx_.next();
            if (t.kind == tEnd) fail("%s: Fatal: incomplete MIB\n", file_.c_str());
            if (is(t, kwEnd)) return;
        }
    }

    void body(std::string& out) {
        std::vector<Assignment> list;
        std::string label;
        bool after_name = false;
        for (;;) {
            Token t = lx_.next();
            bool name = t.kind == tName;
            if (t.kind == tEnd) fail("%s: Fatal: incomplete MIB\n", file_.c_str());
            if (name) {
                label = t.text;
            } else if (t.kind == tLParen) {
                skip_group(tLParen, tRParen);
            } else if (t.kind == tLBrace) {
                skip_group(tLBrace, tRBrace);
            } else if (t.kind == tKeyword) {
                if (lx_.peek().kind == tKeyword && lx_.peek().kw == kwMacro) {
                    skip_macro();
                    after_name = false;
                    continue;
                }
                switch (t.kw) {
                case kwEnd:
                    finish(list, out);
                    return;
                case kwDefinitions:
                    fail("%s: Fatal: nested MIBS\n", file_.c_str());
                case kwAssign:
                    if (after_name) type_assignment(label);
                    break;
                case kwObjectIdentifier:
                    if (after_name && is(lx_.peek(), kwAssign)) {
                        lx_.next();
                        Assignment a = named_assignment(label, t.line);
                        value(a);
                        list.push_back(std::move(a));
                    }
                    break;
                case kwObjectType:
                    if (after_name) list.push_back(object_type(label, t.line));
                    break;
                case kwModuleIdentity:
                case kwObjectIdentity:
                case kwModuleCompliance:
                case kwObjectGroup:
                case kwNotificationGroup:
                case kwNotificationType:
                case kwAgentCapabilities:
                    if (after_name) list.push_back(macro_value(label, t.line));
                    break;
                case kwTrapType:
                    if (after_name) trap_type();
                    break;
                default:
                    break;
                }
            }
            after_name = name;
        }
    }

    Assignment object_type(const std::string& label, int line) {
        Assignment a = named_assignment(label, line, aObject);
        for (;;) {
            Token t = header_token();
            if (t.kind != tKeyword) continue;
            if (t.kw == kwAssign) break;
            if (t.kw == kwSyntax) a.syntax = syntax();
            if (t.kw == kwAccess || t.kw == kwMaxAccess) a.access = access();
            if (t.kw == kwStatus) a.status = status();
        }
        value(a);
        return a;
    }

    // The type named after SYNTAX (or after ::= in a type assignment); the
    // token is left unread when it names no type.
    std::string syntax() {
        Token t = lx_.next();
        if (t.kind == tName || t.kind == tNumber) return t.text;
        if (t.kind == tKeyword) {
            switch (t.kw) {
            case kwOctetString:
            case kwObjectIdentifier:
            case kwBitString:
            case kwChoice:
                return t.text;
            case kwSequence:
                if (is(lx_.peek(), kwOf)) {
                    lx_.next();
                    if (lx_.peek().kind == tName) lx_.next();
                }
                return t.text;
            default:
                break;
            }
        }
        lx_.unread(std::move(t));
        return {};
    }

    std::string access() {
        Token t = lx_.next();
        static const char* const kAccess[][2] = {
            {"read-only", "R"}, {"read-write", "RW"}, {"write-only", "W"},
            {"not-accessible", "NA"}, {"read-create", "RC"},
            // SMIv2: readable only inside a notification.
            {"accessible-for-notify", "NOTIFY"},
        };
        for (const auto& row : kAccess)
            if (t.text == row[0]) return row[1];
        fail("%s: bad ACCESS in OBJECT-TYPE header\n", file_.c_str());
    }

    std::string status() {
        Token t = lx_.next();
        static const char* const kStatus[][2] = {
            {"mandatory", "MANDATORY"}, {"optional", "OPTIONAL"}, {"obsolete", "OBSOLETE"},
            {"deprecated", "DEPRECATED"}, {"current", "CURRENT"}, {"not_used", "NOT_USED"},
            {"invalid", "INVALID"},
        };
        for (const auto& row : kStatus)
            if (t.text == row[0]) return row[1];
        fail("%s:%d: bad STATUS in OBJECT-TYPE header\n", file_.c_str(), t.line);
    }

    static bool number(const std::string& text, uint32_t& v) {
        if (text.empty() || text.size() > 10) return false;
        uint64_t n = 0;
        for (char c : text) n = n * 10 + uint64_t(c - '0');
        if (n > 0xFFFFFFFFu) return false;
        v = uint32_t(n);
        return true;
    }

    // "{ parent n ... }" after ::=, where each component after the first may
    // also be written name(n).
    void value(Assignment& a) {
        Token t = lx_.next();
        if (t.kind != tLBrace) fail("%s:%d: LABEL missing in OBJECT-TYPE header\n", file_.c_str(), t.line);
        t = lx_.next();
        size_t parts = 0;
        uint32_t n = 0;
        auto add = [&](uint32_t v) {
            if (++parts > kMaxOidParts) fail("%s:%d: bad NUMBER in OBJECT-TYPE header\n", file_.c_str(), t.line);
            a.numbers += '.';
            a.numbers += std::to_string(v);
            a.last = v;
        };
        if (t.kind == tName) {
            a.parent = t.text;
            if (lx_.peek().kind == tLParen) {  // iso(1): the name stands for its number
                lx_.next();
                Token num = lx_.next();
                if (num.kind != tNumber || !number(num.text, n) || lx_.next().kind != tRParen)
                    fail("%s:%d: bad NUMBER in OBJECT-TYPE header\n", file_.c_str(), num.line);
            }
        } else if (t.kind == tNumber && number(t.text, n)) {
            a.numbers = std::to_string(n);
            a.last = n;
            parts = 1;
        } else {
            fail("%s:%d: LABEL missing in OBJECT-TYPE header\n", file_.c_str(), t.line);
        }
        for (;;) {
            t = lx_.next();
            if (t.kind == tRBrace) break;
            if (t.kind == tNumber && number(t.text, n)) {
                add(n);
            } else if (t.kind == tName && lx_.peek().kind == tLParen) {
                lx_.next();
                Token num = lx_.next();
                if (num.kind != tNumber || !number(num.text, n) || lx_.next().kind != tRParen)
                    fail("%s:%d: bad NUMBER in OBJECT-TYPE header\n", file_.c_str(), num.line);
                add(n);
            } else if (parts == 0) {
                fail("%s:%d: bad NUMBER in OBJECT-TYPE header\n", file_.c_str(), t.line);
            } else {
                fail("%s:%d: } missing in OBJECT-TYPE header\n", file_.c_str(), t.line);
            }
        }
        if (parts == 0) fail("%s:%d: bad NUMBER in OBJECT-TYPE header\n", file_.c_str(), t.line);
    }

    // MODULE-IDENTITY, OBJECT-GROUP and the other macros whose value is an
    // OID: their clauses are passed over up to ::=.
    Assignment macro_value(const std::string& label, int line) {
        Assignment a = named_assignment(label, line);
        for (;;) {
            Token t = header_token();
            if (is(t, kwAssign)) break;
            if (is(t, kwDescription)) {
                Token d = lx_.next();
                if (d.kind != tQuoted) {
                    say("%d --> %s\n", lx_.count(), d.text.c_str());
                    lx_.unread(std::move(d));
                }
            }
        }
        value(a);
        return a;
    }

    void trap_type() {
        for (;;) {
            Token t = lx_.next();
            if (t.kind == tEnd || is(t, kwEnd) || is(t, kwDefinitions))
                fail("%s:%d: ::= missing in OBJECT-TYPE header\n", file_.c_str(), t.line);
            if (t.kind == tLBrace) skip_group(tLBrace, tRBrace);
            if (is(t, kwAssign)) break;
            if (is(t, kwEnterprise)) {
                Token e = lx_.next();
                if (e.kind != tName) {
                    say("unable to parse ENTERPRISE %s\n", e.text.c_str());
                    lx_.unread(std::move(e));
                }
            }
        }
        if (lx_.peek().kind == tNumber) lx_.next();
    }

    // "Name ::= type": a type assignment or a textual convention, remembered
    // so that objects of that type get the syntax code of its base type.
    void type_assignment(const std::string& name) {
        Token t = lx_.next();
        std::string base, hint;
        if (is(t, kwTextualConvention)) {
            for (;;) {
                t = lx_.next();
                if (t.kind == tEnd || is(t, kwEnd) || is(t, kwAssign)) {
                    lx_.unread(std::move(t));
                    return;
                }
                skip_if_group(t);
                if (is(t, kwDisplayHint) && lx_.peek().kind == tQuoted) hint = lx_.next().text;
                if (is(t, kwSyntax)) break;
            }
            base = syntax();
        } else {
            // [APPLICATION n] IMPLICIT before the type of a tagged type.
            if (t.kind == tName && !t.text.empty() && t.text[0] == '[') {
                for (int i = 0; i < 4 && t.text.find(']') == std::string::npos; ++i) t = lx_.next();
                t = lx_.next();
            }
            while (t.kind == tKeyword && t.kw == kwOther && (t.text == "IMPLICIT" || t.text == "EXPLICIT"))
                t = lx_.next();
            lx_.unread(std::move(t));
            base = syntax();
        }
        if (base.empty() || base == name) return;
        if (base == "OCTET STRING" && text_hint(hint)) base = "DisplayString";
        c_.types[name] = base;
    }

    // Resolves the module's assignments (a parent may be defined later in
    // the module) and writes the lines of its objects in source order.
    void finish(std::vector<Assignment>& list, std::string& out) {
        std::unordered_map<std::string, std::vector<size_t>> waiting;
        std::vector<size_t> ready;
        auto settle = [&](size_t i) {
            ready.push_back(i);
            while (!ready.empty()) {
                Assignment& a = list[ready.back()];
                ready.pop_back();
                std::string base = a.parent.empty() ? std::string() : c_.oids[a.parent];
                a.oid = base + a.numbers;
                if (size_t(std::count(a.oid.begin(), a.oid.end(), '.')) >= kMaxOidParts)
                    fail("%s:%d: OID of %s is longer than %zu components\n", file_.c_str(), a.line,
                         a.label.c_str(), kMaxOidParts);
                c_.oids[a.label] = a.oid;
                auto w = waiting.find(a.label);
                if (w == waiting.end()) continue;
                std::vector<size_t> next = std::move(w->second);
                waiting.erase(w);
                ready.insert(ready.end(), next.begin(), next.end());
            }
        };
        for (size_t i = 0; i < list.size(); ++i) {
            const Assignment& a = list[i];
            if (a.parent.empty() || c_.oids.count(a.parent))
                settle(i);
            else
                waiting[a.parent].push_back(i);
        }
        for (const Assignment& a : list)
            if (a.oid.empty())
                fail("Fatal: Unable to resolve OID for %s by %s\n", a.parent.c_str(), a.label.c_str());
        std::string object;  // the parent whose attributes are being written
        for (const Assignment& a : list) {
            if (a.kind != aObject) continue;
            std::string code = mib_syntax_code(c_, a.syntax);
            if (code.empty()) continue;
            // A new object line starts each table entry or group; it is also
            // written when the first column is missing, so that no attribute
            // is filed under the object before it.
            if (a.last == 1 || a.parent != object) {
                size_t cut = a.oid.rfind('.');
                out += cut == std::string::npos ? a.oid : a.oid.substr(0, cut);
                out += ' ';
                out += a.parent.empty() ? a.label : a.parent;
                out += " N\n";
                object = a.parent;
            }
            out += a.oid + ' ' + a.label + " L " + code + ' ' + (a.access.empty() ? "U" : a.access) + ' ' +
                   (a.status.empty() ? "U" : a.status) + '\n';
        }
    }

    MibCompiler& c_;
    Lexer& lx_;
    const std::string& file_;
};

}  // namespace

MibCompiler::MibCompiler() {
    for (const KnownOid& k : kKnownOids) oids.emplace(k.name, k.oid);
}

std::string mib_syntax_code(const MibCompiler& c, const std::string& type) {
    std::string name = type;
    for (int hops = 0; hops < 32; ++hops) {
        if (const char* code = direct_syntax_code(name)) return code;
        auto it = c.types.find(name);
        if (it == c.types.end()) return {};
        name = it->second;
    }
    return {};
}

bool mib_compile_text(MibCompiler& c, std::string_view text, const std::string& file, std::string& out) {
    if (text.size() > kMaxText) {
        std::string line = file + ": Fatal: MIB text too large\n";
        c.diag ? c.diag(line) : (void)std::fputs(line.c_str(), stderr);
        return false;
    }
    try {
        Lexer lx(text);
        ModuleCompiler(c, lx, file).run(out);
        return true;
    } catch (const Fatal&) {
        return false;
    } catch (const MibScanError& e) {
        std::string line = file + ": Fatal: " + e.what() + "\n";
        c.diag ? c.diag(line) : (void)std::fputs(line.c_str(), stderr);
        return false;
    }
}

bool mib_compile_file(MibCompiler& c, const std::string& in_path, const std::string& out_path) {
    auto say = [&](const std::string& line) { c.diag ? c.diag(line) : (void)std::fputs(line.c_str(), stderr); };
    std::ifstream in(in_path, std::ios::binary);
    if (!in) {
        say("Fatal Error : Unable to open " + in_path + " for reading\n");
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string out;
    bool ok = mib_compile_text(c, text, in_path, out);
    std::ofstream o(out_path, std::ios::binary | std::ios::trunc);
    if (!o) {
        say("Fatal Error : Unable to open " + out_path + " for writing\n");
        return false;
    }
    o << out;
    o.close();
    if (!o) {
        say("Fatal Error : Unable to open " + out_path + " for writing\n");
        return false;
    }
    return ok;
}

}  // namespace zm
