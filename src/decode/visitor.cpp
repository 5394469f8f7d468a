// The decode-tree visitor: shown elements with their keys and texts.
#include "decode/visitor.h"

#include "decode/format.h"
#include "pdl/protodb.h"

namespace zm {

bool node_is_empty(const DecodeBlock& tree, uint32_t i, uint32_t packet_length) {
    if (tree[i].offset / 8 == packet_length) return true;
    return i + 1 < tree.count() && tree[i + 1].type == DECODE_NODE_END;
}

const std::string* node_display(const Node* node) {
    for (const NodeAttr* a = node ? node->node_attrs_ : nullptr; a; a = a->next_)
        if (a->type_ == NATTR_DISPLAY) return &a->text_;
    return nullptr;
}

void append_lower_hex(const uint8_t* bytes, size_t count, std::string& out) {
    static const char digits[] = "0123456789abcdef";
    size_t at = out.size();
    out.resize(at + 2 * count);
    for (size_t k = 0; k < count; ++k) {
        out[at++] = digits[bytes[k] >> 4];
        out[at++] = digits[bytes[k] & 15];
    }
}

DecodeVisitor::DecodeVisitor(const DecodeBlock& tree, const uint8_t* data, uint32_t length, unsigned want)
    : tree_(tree), data_(data), length_(length), want_(want) {}

bool DecodeVisitor::next(VisitedElement& out) {
    while (pos_ < tree_.count()) {
        uint32_t i = pos_++;
        const DecodeElement& e = tree_[i];
        switch (e.type) {
        case DECODE_NODE: {
            if (!e.node() || node_is_empty(tree_, i, length_)) break;
            out = VisitedElement{};
            out.kind = VISIT_NODE;
            out.element = &e;
            out.position = i;
            out.item = ++item_;
            out.node = e.node();
            if (want_ & VISIT_WANT_KEY) out.key = e.node()->name_;
            return true;
        }
        case DECODE_FLD: {
            Field* field = e.field();
            if (!field) break;
            out = VisitedElement{};
            out.kind = VISIT_FIELD;
            out.element = &e;
            out.position = i;
            out.item = e.width ? ++item_ : 0;
            out.node = field->owner_;
            out.field = field;
            if (want_ & VISIT_WANT_KEY) {
                key_.clear();
                if (field->owner_) key_ += field->owner_->name_;
                key_ += '_';
                key_ += field->name_;
                if (e.index > 0) {
                    key_ += ',';
                    key_ += std::to_string(e.index - 1);
                }
                out.key = key_;
            }
            if (want_ & VISIT_WANT_VALUE) {
                format_field_value(e, data_, length_, value_, kVisitTextMax);
                out.value = value_;
            }
            if (want_ & VISIT_WANT_SYMBOL) {
                format_field(e, data_, length_, symbol_, kVisitTextMax);
                out.symbol = symbol_;
            }
            return true;
        }
        case DECODE_DATA: {
            out = VisitedElement{};
            out.kind = VISIT_DATA;
            out.element = &e;
            out.position = i;
            out.field = e.field();
            if (want_ & VISIT_WANT_KEY) out.key = "RAWDATA";
            if (want_ & (VISIT_WANT_VALUE | VISIT_WANT_SYMBOL)) {
                uint32_t start = e.offset / 8;
                value_.assign("0x");
                if (start < length_) append_lower_hex(data_ + start, length_ - start, value_);
                out.value = value_;
                out.symbol = value_;
            }
            return true;
        }
        default:
            break;
        }
    }
    return false;
}

}  // namespace zm
