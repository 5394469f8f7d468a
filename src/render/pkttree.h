// The packet tree of a decoded packet, its reg list of full field paths, the
// path-pattern language with its matcher, and the send string that rebuilds
// the packet. Free of Tcl.
//
// A packet tree keeps copies of what it needs from the decode tree (offsets,
// widths, values, texts; node and field records of the protocol database,
// which live for the process), never pointers into the packet or its decode
// block, so a cached tree stays safe after its packet is freed.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/buffer.h"

namespace zm {

struct Node;
struct Field;

enum TreeType : int { TREE_NODE = 1, TREE_ARRAY = 3, TREE_FIELD = 5, TREE_DATA = 6 };

struct TreeRecord {
    int type = TREE_NODE;
    std::string name;
    uint32_t offset = 0;  // bit offset in the packet
    uint32_t width = 0;   // bits (fields and data)
    uint32_t value = 0;   // fields of 1..32 bits
    const Node* node = nullptr;
    const Field* field = nullptr;
    bool has_num = false;  // the numeric text is not empty
    std::string num_text;
    std::string hex_text;
    std::vector<std::unique_ptr<TreeRecord>> children;

    bool has_members_with_children() const {
        return type == TREE_ARRAY && !children.empty() && !children.front()->children.empty();
    }
};

enum PathKind : int { PATH_ANY = 0, PATH_ONE = 1, PATH_NAME = 2, PATH_INDEX = 3, PATH_FIELD = 4, PATH_END = 5 };

struct PathEntry {
    int kind = PATH_END;
    std::string text;     // name and field entries
    unsigned long index = 0;
};

// One field of the tree by its full path; `record` points into the owning tree.
struct RegPath {
    std::vector<PathEntry> entries;  // names and indices, the field entry, the end entry
    TreeRecord* record = nullptr;
    std::string num_text, hex_text;

    const std::string& value(bool hex) const { return hex ? hex_text : num_text; }
    // "NAME.NAME.3.field"
    std::string text() const;
};

// Longest name component a pattern may hold.
constexpr size_t kPatternNameMax = 63;

// Parses a path pattern; on failure returns false with `error` set to the
// message ("Bad string argument: string cannot contain spaces", "Wildcarding
// not allowed").
bool parse_pattern(const std::string& text, bool wildcards, std::vector<PathEntry>& out, std::string& error);

// Matches a reg path against a pattern, in full or as a leading part. False
// with `error` set when the pattern holds an entry no pattern can hold.
bool match_path(const RegPath& reg, const std::vector<PathEntry>& pattern, bool full, std::string* error = nullptr);

struct SendOptions {
    bool hex = false;
    bool nodefault = false;
    bool nocalc = false;
};

class PacketTree {
public:
    // Builds the tree from the buffer's decode tree (which must exist).
    // `warn` receives each Warning text.
    bool build(const PacketBuffer* buffer, std::vector<std::string>& warnings);
    void clear();

    const TreeRecord* root() const { return root_.get(); }
    TreeRecord* root() { return root_.get(); }
    // The root for a walk that runs scripts: it stays alive even when a
    // script makes the context drop or rebuild this tree.
    std::shared_ptr<const TreeRecord> shared_root() const { return root_; }

    // The reg list, built on first use.
    const std::vector<RegPath>& regs(std::vector<std::string>& warnings);
    bool regs_built() const { return regs_built_; }

    // Replaces the hex text of the reg path's field (in the reg list and the tree).
    void set_hex(RegPath& reg, const std::string& value);
    std::vector<RegPath>& mutable_regs() { return regs_; }

    // The filter string that rebuilds the packet, bytes after everything
    // decoded (such as frame padding) included as trailing raw data.
    std::string send_string(const SendOptions& options) const;

private:
    std::shared_ptr<TreeRecord> root_;
    std::vector<RegPath> regs_;
    bool regs_built_ = false;
    std::string trailer_;  // hex digits of the bytes after the decoded ones
};

}  // namespace zm
