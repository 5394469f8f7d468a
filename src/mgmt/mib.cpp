// The MIB database: images, per-key object tables, on-demand loading and look-ups.
#include "mgmt/mib.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>

#include "core/report.h"

namespace zm {
namespace {

constexpr const char* kModule = "snmpmib";

struct LetterRow {
    const char* code;
    char letter;
};

constexpr LetterRow kSyntaxLetters[] = {
    {"INTEGER", 'I'}, {"COUNTER", 'C'}, {"GAUGE", 'G'}, {"TICKS", 'T'}, {"IP_ADDR", 'A'},
    {"OCT_STR", 'S'}, {"DSP_STR", 'D'}, {"OPAQUE", 'P'}, {"SNMP_ID", 'O'},
};
constexpr LetterRow kAccessLetters[] = {
    {"R", 'R'}, {"RW", 'B'}, {"W", 'W'}, {"NA", 'N'}, {"RC", 'C'},
};
constexpr LetterRow kStatusLetters[] = {
    {"MANDATORY", 'M'}, {"OPTIONAL", 'O'}, {"OBSOLETE", 'B'}, {"DEPRECATED", 'D'},
    {"CURRENT", 'C'}, {"NOT_USED", 'N'}, {"INVALID", 'I'},
};

template <size_t N>
char letter_of(const LetterRow (&rows)[N], const std::string& code, char other) {
    for (const LetterRow& row : rows)
        if (code == row.code) return row.letter;
    return other;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// A module name from an index file or an IMPORTS clause becomes part of a
// path: it must stay a plain file name.
bool safe_module_name(const std::string& m) {
    return !m.empty() && m.size() <= 255 && m.find('/') == std::string::npos && m != "." && m != ".." &&
           m.find('\0') == std::string::npos;
}

std::string module_file(const MibImage& image, const std::string& module) {
    return image.image + "/mib/" + module + ".mib";
}

std::optional<std::string> index_module(const std::string& path, const std::string& name) {
    std::ifstream in(path);
    if (!in) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "Cannot open the MIB index file %s", path.c_str());
        return std::nullopt;
    }
    return mib_index_module(in, path, name);
}

// Removes a temporary directory and what the compiler left in it.
struct TempDir {
    std::string path;
    ~TempDir() {
        if (path.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

std::optional<std::string> mib_index_module(std::istream& in, const std::string& file, const std::string& name) {
    const std::string needle = "(" + name + ")";
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        size_t at = line.find(needle);
        if (at == std::string::npos) continue;
        size_t start = at + needle.size() + 1;
        size_t dot = start <= line.size() ? line.find('.', start) : std::string::npos;
        std::string module = dot == std::string::npos ? std::string() : line.substr(start, dot - start);
        if (line[start - 1] != ' ' || !safe_module_name(module) || module.find_first_of(" \t") != std::string::npos) {
            report(nullptr, kModule, __LINE__, LOG_WARNING, "%s:%d: malformed MIB index line skipped", file.c_str(),
                   n);
            continue;
        }
        return module;
    }
    return std::nullopt;
}

char mib_syntax_letter_of(const std::string& code) { return letter_of(kSyntaxLetters, code, 0); }
char mib_access_letter_of(const std::string& code) { return letter_of(kAccessLetters, code, 'U'); }
char mib_status_letter_of(const std::string& code) { return letter_of(kStatusLetters, code, 'U'); }

std::optional<MibObject> mib_read_index(const std::string& path, const std::string& name) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    return mib_read_index(in, path, name);
}

std::optional<MibObject> mib_read_index(std::istream& in, const std::string& path, const std::string& name) {
    MibObject obj;
    bool found = false, inside = false;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        std::vector<std::string> f = fields(line);
        if (f.empty()) continue;
        if (f.size() == 3 && f[2] == "N") {
            inside = f[1] == name;
            if (inside && !found) obj.oid = f[0];
            found = found || inside;
        } else if (f.size() == 6 && f[2] == "L") {
            if (!inside) continue;
            MibAttribute a;
            a.oid = f[0];
            a.name = f[1];
            a.syntax = mib_syntax_letter_of(f[3]);
            a.access = mib_access_letter_of(f[4]);
            a.status = mib_status_letter_of(f[5]);
            obj.attrs.push_back(std::move(a));
        } else {
            report(nullptr, kModule, __LINE__, LOG_WARNING, "%s:%d: malformed MIB index line skipped", path.c_str(),
                   n);
        }
    }
    if (!found) return std::nullopt;
    return obj;
}

MibDatabase::MibDatabase() { tables_.push_back(Table{}); }

MibDatabase& mib_database() {
    static MibDatabase db;
    return db;
}

int MibDatabase::register_image(MibImage image) {
    for (const auto& i : images_)
        if (i->image == image.image) return i->key;
    image.key = ++counter_;
    images_.push_back(std::make_unique<MibImage>(std::move(image)));
    return counter_;
}

const MibImage* MibDatabase::image(int key) const {
    for (const auto& i : images_)
        if (i->key == key) return i.get();
    return nullptr;
}

MibDatabase::Table* MibDatabase::table(int key, bool create) {
    for (Table& t : tables_)
        if (t.key == key) return &t;
    if (!create) return nullptr;
    tables_.push_back(Table{});
    tables_.back().key = key;
    return &tables_.back();
}

std::optional<MibObject> MibDatabase::load_from_image(MibImage& image, const std::string& name) {
    std::optional<std::string> module = index_module(image.index_file, name);
    if (!module) return std::nullopt;
    if (image.type == kMibMdl || image.type == kMibCdl) {
        report(nullptr, kModule, __LINE__, LOG_FAULT,
               "No %s converter is installed on this system: %s of module %s cannot be loaded",
               image.type == kMibMdl ? "mdl" : "cdl", name.c_str(), module->c_str());
        return std::nullopt;
    }
    if (image.type != kMibText) {
        report(nullptr, kModule, __LINE__, LOG_FAULT,
               "The MIB type of image %s is none of mdl, cdl and mib: %s cannot be loaded", image.image.c_str(),
               name.c_str());
        return std::nullopt;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/zemko-mibXXXXXX";
    TempDir dir;
    if (!mkdtemp(templ.data())) {
        report_os_error(nullptr, kModule, __LINE__, "Cannot make a temporary directory %s", templ.c_str());
        return std::nullopt;
    }
    dir.path = templ;
    if (!image.compiler) {
        image.compiler = std::make_unique<MibCompiler>();
        const MibImage* owner = &image;
        image.compiler->module_path = [owner](const std::string& m) {
            return safe_module_name(m) ? module_file(*owner, m) : std::string();
        };
    }
    std::string out = dir.path + "/" + *module + ".out";
    mib_compile_file(*image.compiler, module_file(image, *module), out);
    return mib_read_index(out, name);
}

MibObject* MibDatabase::find(int key, const std::string& name) {
    if (Table* t = table(key, false)) {
        auto it = t->index.find(name);
        if (it != t->index.end()) return &it->second->second;
    }
    MibImage* img = nullptr;
    for (auto& i : images_)
        if (i->key == key) img = i.get();
    if (!img) return nullptr;
    std::optional<MibObject> obj = load_from_image(*img, name);
    if (!obj) return nullptr;
    Table* t = table(key, true);
    t->objects.emplace_back(name, std::move(*obj));
    t->index[name] = std::prev(t->objects.end());
    return &t->objects.back().second;
}

namespace {

void split_path(const std::string& path, std::string& name, std::string& attr, bool& has_attr) {
    size_t dot = path.find('.');
    has_attr = dot != std::string::npos;
    name = path.substr(0, dot);
    attr = has_attr ? path.substr(dot + 1) : std::string();
}

const MibAttribute* by_name(const MibObject& obj, const std::string& attr) {
    for (const MibAttribute& a : obj.attrs)
        if (a.name == attr) return &a;
    return nullptr;
}

// ATTR beginning with 1-9: the attribute numbered so under the object (its
// OID's last component), else the one at that position.
const MibAttribute* by_number(const MibObject& obj, const std::string& attr) {
    size_t i = 0;
    unsigned long n = 0;
    while (i < attr.size() && attr[i] >= '0' && attr[i] <= '9' && n < 100000000) n = n * 10 + size_t(attr[i++] - '0');
    std::string oid = obj.oid + "." + std::to_string(n);
    for (const MibAttribute& a : obj.attrs)
        if (a.oid == oid) return &a;
    return n >= 1 && n <= obj.attrs.size() ? &obj.attrs[n - 1] : nullptr;
}

}  // namespace

std::optional<std::string> MibDatabase::oid(int key, const std::string& path) {
    std::string name, attr;
    bool has_attr;
    split_path(path, name, attr, has_attr);
    MibObject* obj = find(key, name);
    if (!obj) return std::nullopt;
    std::string result = obj->oid;
    if (has_attr) {
        const MibAttribute* a = by_name(*obj, attr);
        if (!a) return std::nullopt;
        result = a->oid;
    }
    current_ = key;
    return result;
}

std::optional<std::string> MibDatabase::name(int key, const std::string& oid) {
    Table* t = table(key, false);
    if (!t) return std::nullopt;
    size_t cut = oid.rfind('.');
    std::string parent = cut == std::string::npos ? std::string() : oid.substr(0, cut);
    for (const auto& [name, obj] : t->objects) {
        if (obj.oid == oid) {
            current_ = key;
            return name;
        }
        if (cut == std::string::npos || obj.oid != parent) continue;
        for (const MibAttribute& a : obj.attrs) {
            if (a.oid == oid) {
                current_ = key;
                return a.name;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> MibDatabase::letter(int key, const std::string& path, MibField field) {
    std::string name, attr;
    bool has_attr;
    split_path(path, name, attr, has_attr);
    MibObject* obj = find(key, name);
    if (!obj) return std::nullopt;
    std::string result;
    if (!has_attr) {
        result = field == MibField::syntax ? "P" : "NA";
    } else {
        const MibAttribute* a =
            !attr.empty() && attr[0] >= '1' && attr[0] <= '9' ? by_number(*obj, attr) : by_name(*obj, attr);
        if (!a) return std::nullopt;
        char c = field == MibField::syntax ? a->syntax : field == MibField::access ? a->access : a->status;
        if (c) result.assign(1, c);
    }
    current_ = key;
    return result;
}

void MibDatabase::load(const std::string& name, const std::string& oid,
                       const std::vector<std::pair<std::string, std::string>>& attrs) {
    MibObject obj;
    obj.oid = oid;
    for (const auto& [attr, code] : attrs) {
        MibAttribute a;
        a.name = attr;
        a.oid = oid + "." + std::to_string(obj.attrs.size() + 1);
        a.syntax = mib_syntax_letter_of(code);
        obj.attrs.push_back(std::move(a));
    }
    Table* t = table(0, true);
    auto it = t->index.find(name);
    if (it != t->index.end()) {
        it->second->second = std::move(obj);
        return;
    }
    t->objects.emplace_back(name, std::move(obj));
    t->index[name] = std::prev(t->objects.end());
}

bool MibDatabase::unload(int key, const std::string& name) {
    Table* t = table(key, false);
    if (!t) return false;
    auto it = t->index.find(name);
    if (it == t->index.end()) return false;
    t->objects.erase(it->second);
    t->index.erase(it);
    return true;
}

void MibDatabase::reset() {
    for (Table& t : tables_) {
        t.index.clear();
        t.objects.clear();
    }
}

char MibDatabase::syntax_letter(const std::string& oid) const {
    if (!current_) return 0;
    const Table* t = nullptr;
    for (const Table& x : tables_)
        if (x.key == *current_) t = &x;
    if (!t) return 0;
    std::string text = oid;
    for (;;) {
        for (const auto& entry : t->objects)
            for (const MibAttribute& a : entry.second.attrs)
                if (a.oid == text) return a.syntax;
        size_t cut = text.rfind('.');
        if (cut == std::string::npos) return 0;
        text.resize(cut);
    }
}

}  // namespace zm
