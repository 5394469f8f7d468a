// Packet tree, reg list, path patterns and send strings of saved packets.
#include "render/pkttree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/textconv.h"
#include "decode/decode.h"
#include "decode/format.h"
#include "filter/filter.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

// Longest numeric text of a field.
constexpr size_t kFieldTextMax = 2048;

std::string hex_bytes(const uint8_t* data, uint32_t length, uint32_t from, uint32_t count, bool upper) {
    if (from > length) from = length;
    if (count > length - from) count = length - from;
    std::string out = "0x";
    out.reserve(2 + 2 * count);
    static const char* const kDigits[2] = {"0123456789abcdef", "0123456789ABCDEF"};
    const char* digits = kDigits[upper ? 1 : 0];
    for (uint32_t i = 0; i < count; ++i) {
        out += digits[data[from + i] >> 4];
        out += digits[data[from + i] & 15];
    }
    return out;
}

class TreeBuilder {
public:
    TreeBuilder(const DecodeBlock& tree, const PacketBuffer* buffer, std::vector<std::string>& warnings)
        : tree_(tree), data_(buffer->data()), length_(buffer->length()), warnings_(warnings) {}

    std::unique_ptr<TreeRecord> build() {
        while (i_ < tree_.count() && tree_[i_].type != DECODE_NODE) ++i_;
        if (i_ >= tree_.count()) return nullptr;
        auto root = node_record(tree_[i_++]);
        fill(*root);
        return root;
    }

    std::unique_ptr<TreeRecord> node_record(const DecodeElement& e) {
        auto r = std::make_unique<TreeRecord>();
        r->type = TREE_NODE;
        r->node = e.node();
        r->name = e.node() ? e.node()->name_ : std::string();
        r->offset = e.offset;
        return r;
    }

    // The bit where the last decoded field or data block ends.
    uint32_t decoded_end() const { return end_; }

private:
    std::unique_ptr<TreeRecord> field_record(const DecodeElement& e) {
        end_ = std::max(end_, e.type == DECODE_DATA ? length_ * 8 : e.offset + e.width);
        auto r = std::make_unique<TreeRecord>();
        r->offset = e.offset;
        r->width = e.width;
        r->value = e.value;
        r->field = e.field();
        if (e.type == DECODE_DATA) {
            r->type = TREE_DATA;
            r->name = "RAWDATA";
            r->hex_text = hex_bytes(data_, length_, e.offset / 8, length_, false);
            r->num_text = r->hex_text;
            r->has_num = true;
            return r;
        }
        r->type = TREE_FIELD;
        r->name = e.field() ? e.field()->name_ : std::string();
        format_field_value(e, data_, length_, r->num_text, kFieldTextMax);
        r->has_num = !r->num_text.empty();
        if (e.width >= 33) {
            r->hex_text = hex_bytes(data_, length_, e.offset / 8, e.width / 8, true);
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(e.value));
            r->hex_text = buf;
        }
        return r;
    }

    // Reads the contents of a node (or array member) up to its DECODE_NODE_END.
    void fill(TreeRecord& parent) {
        while (i_ < tree_.count()) {
            const DecodeElement& e = tree_[i_++];
            switch (e.type) {
            case DECODE_NODE_END:
                return;
            case DECODE_NODE: {
                auto child = node_record(e);
                fill(*child);
                parent.children.push_back(std::move(child));
                break;
            }
            case DECODE_ARRAY:
                parent.children.push_back(array_record(e));
                break;
            case DECODE_FLD:
            case DECODE_DATA:
                parent.children.push_back(field_record(e));
                break;
            default:
                warnings_.push_back("Bad type " + std::to_string(e.type) + " in start_node");
                break;
            }
        }
    }

    std::unique_ptr<TreeRecord> array_record(const DecodeElement& e) {
        auto array = node_record(e);
        array->type = TREE_ARRAY;
        while (i_ < tree_.count()) {
            const DecodeElement& m = tree_[i_++];
            if (m.type == DECODE_ARRAY_END) break;
            if (m.type == DECODE_NODE) {
                auto member = node_record(m);
                fill(*member);
                array->children.push_back(std::move(member));
            } else if (m.type == DECODE_FLD || m.type == DECODE_DATA) {
                array->children.push_back(field_record(m));
            } else {
                warnings_.push_back("Bad type " + std::to_string(m.type) + " in start_node");
            }
        }
        return array;
    }

    const DecodeBlock& tree_;
    const uint8_t* data_;
    uint32_t length_;
    std::vector<std::string>& warnings_;
    uint32_t i_ = 0;
    uint32_t end_ = 0;
};

void reg_walk(TreeRecord& record, std::vector<PathEntry>& prefix, std::vector<RegPath>& out,
              std::vector<std::string>& warnings) {
    for (auto& child : record.children) {
        switch (child->type) {
        case TREE_NODE:
            prefix.push_back({PATH_NAME, child->name, 0});
            reg_walk(*child, prefix, out, warnings);
            prefix.pop_back();
            break;
        case TREE_ARRAY:
            if (!child->has_members_with_children()) break;
            for (size_t k = 0; k < child->children.size(); ++k) {
                TreeRecord& member = *child->children[k];
                prefix.push_back({PATH_NAME, member.name, 0});
                prefix.push_back({PATH_INDEX, {}, k});
                reg_walk(member, prefix, out, warnings);
                prefix.resize(prefix.size() - 2);
            }
            break;
        case TREE_FIELD:
        case TREE_DATA: {
            if (!child->has_num) break;
            RegPath reg;
            reg.entries = prefix;
            reg.entries.push_back({PATH_FIELD, child->name, 0});
            reg.entries.push_back({PATH_END, {}, 0});
            reg.record = child.get();
            reg.num_text = child->num_text;
            reg.hex_text = child->hex_text;
            out.push_back(std::move(reg));
            break;
        }
        default:
            warnings.push_back("Bad type " + std::to_string(child->type) + " in reg_node");
            break;
        }
    }
}

// Matching with a memo of (reg position, pattern position) pairs already
// known to fail, so runs of "*" stay polynomial.
class Matcher {
public:
    Matcher(const RegPath& reg, const std::vector<PathEntry>& pattern, bool full)
        : reg_(reg.entries), pat_(pattern), full_(full),
          reg_len_(reg.entries.empty() ? 0 : reg.entries.size() - 1),  // without the end entry
          width_(pattern.size() + 1) {
        // Only a run of "*" can come back to a pair already tried.
        for (const PathEntry& e : pattern)
            if (e.kind == PATH_ANY) {
                failed_.assign((reg_len_ + 1) * width_, 0);
                break;
            }
    }

    bool run(std::string* error) {
        bool ok = match(0, 0);
        if (error) *error = error_;
        return ok && error_.empty();
    }

private:
    bool match(size_t ri, size_t pi) {
        if (pi >= pat_.size()) return !full_ || ri >= reg_len_;
        if (failed_.empty()) return step(ri, pi);
        size_t at = ri * width_ + pi;
        if (failed_[at]) return false;
        bool ok = step(ri, pi);
        if (!ok) failed_[at] = 1;
        return ok;
    }

    bool step(size_t ri, size_t pi) {
        const PathEntry& p = pat_[pi];
        bool used_up = ri >= reg_len_;
        switch (p.kind) {
        case PATH_ANY:
            if (used_up) return pi + 1 < pat_.size() && pat_[pi + 1].kind == PATH_END;
            return match(ri, pi + 1) || match(ri + 1, pi);
        case PATH_ONE:
            return !used_up && match(ri + 1, pi + 1);
        case PATH_NAME: {
            if (used_up) return false;
            const PathEntry& r = reg_[ri];
            return (r.kind == PATH_NAME || r.kind == PATH_FIELD) && r.text == p.text && match(ri + 1, pi + 1);
        }
        case PATH_INDEX: {
            if (used_up) return false;
            const PathEntry& r = reg_[ri];
            return r.kind == PATH_INDEX && r.index == p.index && match(ri + 1, pi + 1);
        }
        case PATH_END:
            return !full_ || used_up;
        case PATH_FIELD:
            error_ = "Error in match - FLD found in reg";
            return false;
        default:
            error_ = "Error in match";
            return false;
        }
    }

    const std::vector<PathEntry>& reg_;
    const std::vector<PathEntry>& pat_;
    bool full_;
    size_t reg_len_;
    size_t width_;
    std::vector<uint8_t> failed_;  // (reg position, pattern position) pairs known to fail
    std::string error_;
};

bool is_default(const Field* field, const std::string& text) {
    const Symbol* source = field ? field->value_source_ : nullptr;
    if (!source || source->kind_ != SYM_VALUE || source->length_ != 0) return false;
    char buf[64];
    auto number = static_cast<long>(static_cast<int32_t>(source->number()));
    switch (field->display_format_) {
    case DISP_HEX:
        std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(source->number()));
        break;
    case DISP_DEC:
        std::snprintf(buf, sizeof buf, "%ld", number);
        break;
    case DISP_FLT:
        std::snprintf(buf, sizeof buf, "%f", static_cast<double>(number));
        break;
    default:
        return false;
    }
    return text == buf;
}

bool is_calculated(const Field* field) {
    const Symbol* source = field ? field->value_source_ : nullptr;
    return source && (source->kind_ == SYM_CHECKSUM || source->kind_ == SYM_LENGTH || source->kind_ == SYM_LENGTHOF);
}

// True when the expression reads the length of the area being decoded: such
// a field's width comes from the value given when the packet is built.
bool reads_pdu_length(const Expr* e, int depth = 0) {
    if (!e || depth > 64) return false;
    if (e->type_ == EXPR_NAME && e->evaluator_ == Evaluator::pdu_length) return true;
    return reads_pdu_length(e->left_, depth + 1) || reads_pdu_length(e->right_, depth + 1);
}

bool sized_by_value(const Field* field) { return field && reads_pdu_length(field->width_); }

// The hexadecimal digits of a field's hex text (which pkt_set may have
// replaced), at least as many as its width needs.
std::string raw_digits(const TreeRecord& r) {
    std::string digits = r.hex_text;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
    size_t need = r.width / 4;
    if (digits.size() < need) digits.insert(0, need - digits.size(), '0');
    if (digits.size() % 2) digits.insert(0, 1, '0');
    return digits;
}

// A field sized by its value, last in its node, is rebuilt from raw data
// placed after the node when its value cannot be given in a filter: a number
// (one to four bytes) would be laid out as four bytes, and a condition holds
// at most kSendValueMax bytes.
bool raw_sized_by_value(const TreeRecord& r, bool last) {
    if (!last || !sized_by_value(r.field) || r.width % 8 != 0) return false;
    size_t bytes = raw_digits(r).size() / 2;
    return bytes > 0 && (bytes <= 4 || bytes > kSendValueMax);
}

// The numeric text is used where the filter language reads it back as the
// same bits; otherwise (strings, IPv6 and OID texts, floats, negative
// decimals, wide hexadecimal texts that may be cut short) the hex text is.
bool numeric_reads_back(const TreeRecord& r) {
    int format = r.field ? r.field->display_format_ : DISP_HEX;
    if (r.width > 32) return format == DISP_IPA || format == DISP_I4P || format == DISP_MAC;
    switch (format) {
    case DISP_HEX:
    case DISP_IPA:
    case DISP_I4P:
        return true;
    case DISP_DEC:
        return !r.num_text.empty() && r.num_text[0] != '-';
    case DISP_MAC:
        return r.num_text.find(':') != std::string::npos;
    default:
        return false;
    }
}

void emit_children(const TreeRecord& record, const SendOptions& o, std::string& out) {
    for (const auto& child : record.children) {
        switch (child->type) {
        case TREE_NODE:
            out += ", " + child->name + " ";
            emit_children(*child, o, out);
            break;
        case TREE_ARRAY:
            if (!child->has_members_with_children()) break;
            out += "< ";
            for (size_t k = 0; k < child->children.size(); ++k) {
                if (k) out += ", ";
                out += child->children[k]->name + " ";
                emit_children(*child->children[k], o, out);
            }
            out += "> ";
            break;
        case TREE_FIELD: {
            if (!child->has_num) break;
            const std::string& text = o.hex || !numeric_reads_back(*child) ? child->hex_text : child->num_text;
            if (text.empty()) break;
            if (o.nocalc && is_calculated(child->field)) break;
            if (o.nodefault && is_default(child->field, child->num_text)) break;
            if (raw_sized_by_value(*child, child == record.children.back())) {
                out += ", RAWDATA " + raw_digits(*child) + " ";
                break;
            }
            out += child->name + "=" + text + " ";
            break;
        }
        case TREE_DATA: {
            const std::string& text = o.hex ? child->hex_text : child->num_text;
            if (text.empty()) break;
            out += ", RAWDATA " + text + " ";
            break;
        }
        default:
            break;
        }
    }
}

}  // namespace

std::string RegPath::text() const {
    std::string out;
    for (const PathEntry& e : entries) {
        if (e.kind == PATH_NAME) {
            out += e.text + ".";
        } else if (e.kind == PATH_INDEX) {
            out += std::to_string(e.index) + ".";
        } else if (e.kind == PATH_FIELD) {
            out += e.text;
        }
    }
    return out;
}

bool parse_pattern(const std::string& text, bool wildcards, std::vector<PathEntry>& out, std::string& error) {
    out.clear();
    if (text.find_first_of(" \t\n\r") != std::string::npos) {
        error = "Bad string argument: string cannot contain spaces";
        return false;
    }
    size_t start = 0;
    while (!text.empty() && start <= text.size()) {
        size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        char c = part.empty() ? '\0' : part[0];
        if ((c == '*' || c == '+' || c == '@') && !wildcards) {
            error = "Wildcarding not allowed";
            return false;
        }
        if (c == '*') {
            out.push_back({PATH_ANY, {}, 0});
        } else if (c == '+') {
            out.push_back({PATH_ONE, {}, 0});
            out.push_back({PATH_ANY, {}, 0});
        } else if (c == '@') {
            out.push_back({PATH_ONE, {}, 0});
        } else if (c >= '0' && c <= '9') {
            out.push_back({PATH_INDEX, {}, std::strtoul(part.c_str(), nullptr, 10)});
        } else {
            if (part.size() > kPatternNameMax) {
                error = "Bad string argument: path component \"" + part.substr(0, kPatternNameMax) +
                        "...\" is longer than " + std::to_string(kPatternNameMax) + " characters";
                return false;
            }
            out.push_back({PATH_NAME, part, 0});
        }
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    out.push_back({PATH_END, {}, 0});
    return true;
}

bool match_path(const RegPath& reg, const std::vector<PathEntry>& pattern, bool full, std::string* error) {
    return Matcher(reg, pattern, full).run(error);
}

bool PacketTree::build(const PacketBuffer* buffer, std::vector<std::string>& warnings) {
    clear();
    const DecodeBlock* tree = decode_tree(buffer);
    if (!tree) return false;
    TreeBuilder builder(*tree, buffer, warnings);
    root_ = builder.build();
    // Bytes after everything decoded (frame padding, an undecodable tail).
    uint32_t end = (builder.decoded_end() + 7) / 8;
    if (root_ && end < buffer->length())
        trailer_ = hex_bytes(buffer->data(), buffer->length(), end, buffer->length() - end, false).substr(2);
    return root_ != nullptr;
}

void PacketTree::clear() {
    regs_.clear();
    regs_built_ = false;
    root_.reset();
    trailer_.clear();
}

const std::vector<RegPath>& PacketTree::regs(std::vector<std::string>& warnings) {
    if (!regs_built_ && root_) {
        std::vector<PathEntry> prefix{{PATH_NAME, root_->name, 0}};
        reg_walk(*root_, prefix, regs_, warnings);
        regs_built_ = true;
    }
    return regs_;
}

void PacketTree::set_hex(RegPath& reg, const std::string& value) {
    reg.hex_text = value;
    if (reg.record) reg.record->hex_text = value;
}

std::string PacketTree::send_string(const SendOptions& options) const {
    if (!root_) return {};
    std::string out = root_->name + " ";
    emit_children(*root_, options, out);
    // Trailing bytes go last; with -nocalc they would count in the lengths
    // computed afresh, so they are left out there.
    if (!trailer_.empty() && !options.nocalc) out += ", RAWDATA " + trailer_ + " ";
    return out;
}

}  // namespace zm
