// Send-filter completion: encapsulating nodes from parent relations, the base node, child-link choice and send-time expressions.
#include <array>
#include <climits>
#include <cstring>

#include "core/report.h"
#include "filter/filter.h"
#include "pdl/protodb.h"

namespace zm {

namespace {

constexpr const char* kModule = "pktfilt";
constexpr size_t kMaxCommonPairs = 256;
constexpr int kMaxAmbiguous = 10;
// Parent chains longer than this are a loop in the descriptions, not a protocol stack.
constexpr int kMaxInserted = 64;
constexpr int kMaxExprDepth = 256;

bool debug_on() {
    const LogSettings& s = log_settings();
    return s.level != 5 && (s.level <= 1 || s.enabled);
}

bool has_link_to(const ChildLink* list, const Node* node) {
    for (; list; list = list->next_)
        if (list->node_ == node) return true;
    return false;
}

// The first parent of `outer` (in its parents order) that is also a parent of `inner`.
Node* common_parent(const Node* outer, const Node* inner) {
    for (const ChildLink* p = outer->parents_; p; p = p->next_)
        if (p->node_ && has_link_to(inner->parents_, p->node_)) return p->node_;
    return nullptr;
}

FilterNode* new_node(Filter* filter, Node* node) {
    FilterNode* n = filter->make<FilterNode>();
    n->filter_ = filter;
    n->node_ = node;
    return n;
}

// The parent link of `child` that leads from `fnode`'s protocol node.
ChildLink* choose_link(Node* child, const FilterNode* fnode) {
    ChildLink* first = nullptr;
    int naming = 0;
    for (ChildLink* l = child->parents_; l; l = l->next_)
        if (l->node_ == fnode->node_) {
            if (!first) first = l;
            ++naming;
        }
    if (naming <= 1) return first;
    for (ChildLink* l = child->parents_; l; l = l->next_) {
        if (l->node_ != fnode->node_) continue;
        if (l->flags_ & LINK_CONSTANT) return l;
        if (l->selector_) {
            bool failed = false;
            int32_t v = eval_send_expr(l->selector_, fnode, &failed);
            if (!failed && v != 0) return l;
        }
    }
    return first;
}

int32_t eval(const Expr* e, const FilterNode* fnode, bool* failed, int depth) {
    if (!e) return 0;
    if (depth > kMaxExprDepth) {
        *failed = true;
        return 0;
    }
    auto sub = [&](const Expr* x) { return eval(x, fnode, failed, depth + 1); };
    auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
    switch (e->type_) {
    case EXPR_NOT: return sub(e->left_) ? 0 : 1;
    case EXPR_LT: return sub(e->left_) < sub(e->right_);
    case EXPR_GT: return sub(e->left_) > sub(e->right_);
    case EXPR_BAND: return static_cast<int32_t>(u(sub(e->left_)) & u(sub(e->right_)));
    case EXPR_BOR: return static_cast<int32_t>(u(sub(e->left_)) | u(sub(e->right_)));
    case EXPR_ADD: return static_cast<int32_t>(u(sub(e->left_)) + u(sub(e->right_)));
    case EXPR_SUB: return static_cast<int32_t>(u(sub(e->left_)) - u(sub(e->right_)));
    case EXPR_MUL: return static_cast<int32_t>(u(sub(e->left_)) * u(sub(e->right_)));
    case EXPR_DIV:
    case EXPR_MOD: {
        int32_t a = sub(e->left_), b = sub(e->right_);
        // Division by zero yields 0; INT_MIN / -1 wraps instead of trapping.
        if (b == 0) return 0;
        if (b == -1) return e->type_ == EXPR_DIV ? static_cast<int32_t>(0u - u(a)) : 0;
        return e->type_ == EXPR_DIV ? a / b : a % b;
    }
    case EXPR_NUMBER: return static_cast<int32_t>(e->value_);
    case EXPR_NAME:
        if (e->evaluator_ == Evaluator::field_value) {
            const Condition* c = e->field_ ? find_send_condition(fnode, e->field_) : nullptr;
            if (!c) {
                *failed = true;
                return 0;
            }
            if (c->send_value_flag_) return 0;
            int32_t v = 0;
            std::memcpy(&v, c->send_value_, 4);
            return v;
        }
        break;
    case EXPR_NE: return sub(e->left_) != sub(e->right_);
    case EXPR_EQ: return sub(e->left_) == sub(e->right_);
    case EXPR_AND: return sub(e->left_) ? (sub(e->right_) != 0) : 0;
    case EXPR_OR: return sub(e->left_) ? 1 : (sub(e->right_) != 0);
    default: break;
    }
    report(nullptr, kModule, __LINE__, LOG_FAULT, "Bad Expression Type %lu", static_cast<unsigned long>(e->type_));
    return 0;
}

}  // namespace

const Condition* find_send_condition(const FilterNode* fnode, const Field* field) {
    for (const FilterNode* n = fnode; n; n = n->next_)
        for (const Condition* c = n->conditions_; c; c = c->next_)
            if (c->field_ == field) return c;
    return nullptr;
}

int32_t eval_send_expr(const Expr* expr, const FilterNode* fnode, bool* failed) {
    bool dummy = false;
    return eval(expr, fnode, failed ? failed : &dummy, 0);
}

FilterNode* complete_send_filter(Node* base, Filter* filter) {
    if (!filter || !filter->last_) return nullptr;

    FilterNode* outer = filter->last_;
    if (!outer->node_ || !outer->node_->is_base()) {
        if (!base) {
            report(nullptr, kModule, __LINE__, LOG_WARNING, "no basenode for this filter");
        } else {
            FilterNode* b = new_node(filter, base);
            b->prev_ = outer;
            outer->next_ = b;
            filter->last_ = b;
        }
    } else if (base && outer->node_ != base) {
        report(nullptr, kModule, __LINE__, LOG_WARNING, "base node \"%s\" doesn't match media type \"%s\"",
               outer->node_->name_.c_str(), base->name_.c_str());
    }

    struct Pair {
        Node* common;
        Node* inner;
    };
    std::array<Pair, kMaxCommonPairs> pairs;
    size_t npairs = 0;
    int ambiguous = 0;
    int inserted = 0;

    for (FilterNode* x = filter->first_; x && x->next_;) {
        FilterNode* o = x->next_;
        if (x->enclosing_) {
            // A node nested in "<...>" is carried by its enclosing node:
            // the encapsulation is completed from there.
            x = o;
            continue;
        }
        Node* xn = x->node_;
        Node* on = o->node_;
        if (!xn || !on || xn == on || has_link_to(xn->parents_, on) || has_link_to(xn->children_, on)) {
            x = o;
            continue;
        }
        if (Node* common = common_parent(on, xn)) {
            if (npairs == kMaxCommonPairs) {
                report(nullptr, kModule, __LINE__, LOG_FAULT, "Too many common nodes - notify zemko");
                return nullptr;
            }
            pairs[npairs++] = {common, xn};
            x = o;
            continue;
        }
        if (!xn->parents_) {
            report(nullptr, kModule, __LINE__, LOG_FAULT, "send filter can not be completed - node \"%s\" has no parents",
                   xn->name_.c_str());
            return nullptr;
        }
        Node* parent = xn->parents_->node_;
        if (!xn->parents_->next_) {
            if (debug_on())
                report(nullptr, kModule, __LINE__, LOG_DEBUG, "Adding parent for node \"%s\", parent is \"%s\"",
                       xn->name_.c_str(), parent->name_.c_str());
        } else {
            if (++ambiguous > kMaxAmbiguous) {
                report(nullptr, kModule, __LINE__, LOG_WARNING, "Excessive parentage errors.  Send aborted");
                return nullptr;
            }
            report(nullptr, kModule, __LINE__, LOG_WARNING, "Ambiguous parentage for node \"%s\", assuming parent \"%s\"",
                   xn->name_.c_str(), parent->name_.c_str());
        }
        if (++inserted > kMaxInserted) {
            report(nullptr, kModule, __LINE__, LOG_FAULT,
                   "send filter can not be completed - the parents of node \"%s\" never reach node \"%s\"",
                   xn->name_.c_str(), on->name_.c_str());
            return nullptr;
        }
        FilterNode* p = new_node(filter, parent);
        p->prev_ = x;
        p->next_ = o;
        x->next_ = p;
        o->prev_ = p;
        x = p;
    }

    size_t used = 0;
    for (FilterNode* n = filter->last_; n && n->prev_; n = n->prev_) {
        FilterNode* inner = n->prev_;
        if (!n->node_ || !inner->node_ || inner->node_ == n->node_ || n->child_link_) continue;
        Node* child = inner->node_;
        if (used < npairs && n->node_ == pairs[used].common) child = pairs[used++].inner;
        n->child_link_ = choose_link(child, n);
    }
    return filter->last_;
}

}  // namespace zm
