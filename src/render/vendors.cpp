// The MAC vendor table, loaded on first use and searched by binary search.
#include "render/vendors.h"

#include <tcl.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "core/report.h"

namespace zm {
namespace {

constexpr size_t kVendorMax = 40;

struct VendorTable {
    bool loaded = false;
    std::vector<uint32_t> ids;     // sorted
    std::vector<std::string> names;  // parallel to ids
};

VendorTable& table() {
    static VendorTable t;
    return t;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool read_table(const std::string& path, VendorTable& t) {
    std::ifstream in(path);
    if (!in) return false;
    std::vector<std::pair<uint32_t, std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 8 || line[6] != '\t') continue;
        uint32_t id = 0;
        bool ok = true;
        for (int i = 0; i < 6 && ok; ++i) {
            int d = hex_digit(line[static_cast<size_t>(i)]);
            ok = d >= 0;
            id = (id << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
        }
        if (!ok || id == 0) continue;
        std::string name = line.substr(7, kVendorMax);
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
        rows.emplace_back(id, std::move(name));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    t.ids.clear();
    t.names.clear();
    for (auto& r : rows) {
        if (!t.ids.empty() && t.ids.back() == r.first) continue;  // first registration wins
        t.ids.push_back(r.first);
        t.names.push_back(std::move(r.second));
    }
    t.loaded = true;
    return true;
}

}  // namespace

bool load_mac_vendors(const std::string& path) {
    VendorTable& t = table();
    if (read_table(path, t)) return true;
    t.ids.clear();
    t.names.clear();
    t.loaded = true;
    return false;
}

std::string_view mac_vendor(Tcl_Interp* interp, uint32_t oui) {
    VendorTable& t = table();
    if (!t.loaded) {
        const char* dir = interp ? Tcl_GetVar(interp, "zemko_library", TCL_GLOBAL_ONLY) : nullptr;
        std::string path = std::string(dir ? dir : ".") + "/mac_vendors.txt";
        if (!load_mac_vendors(path))
            report(interp, "RENDER/tap_fdecode", __LINE__, LOG_WARNING,
                   "Cannot read the MAC vendor table \"%s\" - no vendor lines", path.c_str());
    }
    if (oui == 0) return {};
    auto it = std::lower_bound(t.ids.begin(), t.ids.end(), oui);
    if (it == t.ids.end() || *it != oui) return {};
    return t.names[static_cast<size_t>(it - t.ids.begin())];
}

}  // namespace zm
