// Named tables for test scripts: tables of named columns holding named entries of text values.
#include "util/tables.h"

namespace zm {
namespace {

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

bool fail(TableError* err, std::string message, TableErrorLevel level = TableErrorLevel::fault) {
    err->level = level;
    err->message = std::move(message);
    return false;
}

bool no_column(TableError* err, std::string_view column, std::string_view table,
               TableErrorLevel level = TableErrorLevel::fault) {
    return fail(err,
                "No column with name " + quoted(column) + "exists in table " + quoted(table),
                level);
}

bool no_entry(TableError* err, std::string_view entry, std::string_view table,
              TableErrorLevel level = TableErrorLevel::fault) {
    return fail(err, "No entry exists with name " + quoted(entry) + "exists in table " +
                         quoted(table),
                level);
}

bool name_too_long(TableError* err, const char* what, std::string_view name) {
    return fail(err, std::string(what) + " name " + quoted(name) + " is longer than " +
                         std::to_string(kTableNameMax) + " characters");
}

}  // namespace

NamedTable::NamedTable(std::string name, const std::vector<std::string>& columns)
    : name_(std::move(name)), column_count_(columns.size()) {
    for (size_t i = 0; i < columns.size(); ++i) columns_[columns[i]] = int(i);
}

int NamedTable::column(std::string_view name) const {
    auto it = columns_.find(name);
    return it == columns_.end() ? -1 : it->second;
}

const std::vector<std::string>* NamedTable::values(std::string_view entry) const {
    auto it = index_.find(entry);
    return it == index_.end() ? nullptr : &it->second->second;
}

std::vector<std::string>* NamedTable::values(std::string_view entry) {
    auto it = index_.find(entry);
    return it == index_.end() ? nullptr : &it->second->second;
}

void NamedTable::put(std::string_view entry, std::vector<std::string> vals) {
    if (auto* existing = values(entry)) {
        *existing = std::move(vals);
        return;
    }
    entries_.emplace_back(std::string(entry), std::move(vals));
    index_.emplace(entries_.back().first, std::prev(entries_.end()));
}

bool NamedTable::remove(std::string_view entry) {
    auto it = index_.find(entry);
    if (it == index_.end()) return false;
    entries_.erase(it->second);
    index_.erase(it);
    return true;
}

const NamedTable* TableStore::lookup(std::string_view table, TableError* err) const {
    auto it = tables_.find(table);
    if (it == tables_.end()) {
        fail(err, "No table with name " + quoted(table));
        return nullptr;
    }
    return it->second.get();
}

NamedTable* TableStore::lookup(std::string_view table, TableError* err) {
    return const_cast<NamedTable*>(std::as_const(*this).lookup(table, err));
}

bool TableStore::create(std::string_view table, const std::vector<std::string>& columns,
                        TableError* err) {
    if (tables_.count(table)) return fail(err, "Zemko Table exists for " + quoted(table));
    if (table.size() > kTableNameMax) return name_too_long(err, "Table", table);
    if (columns.size() > kTableColumnsMax)
        return fail(err, "Too many columns for tbl " + quoted(table) + " (at most " +
                             std::to_string(kTableColumnsMax) + ")");
    tables_.emplace(std::string(table), std::make_unique<NamedTable>(std::string(table), columns));
    return true;
}

bool TableStore::remove_table(std::string_view table, TableError* err) {
    auto it = tables_.find(table);
    if (it == tables_.end()) return fail(err, "No table exists with name " + quoted(table));
    tables_.erase(it);
    return true;
}

bool TableStore::add_entry(std::string_view table, std::string_view entry,
                           const std::vector<std::string>& vals, TableError* err) {
    NamedTable* t = lookup(table, err);
    if (!t) return false;
    if (vals.size() != t->column_count())
        return fail(err, "Wrong no of vals for tbl " + quoted(table));
    if (t->has_entry(entry))
        return fail(err, "Entry " + quoted(entry) + " already exists intable: " + quoted(table));
    if (entry.size() > kTableNameMax) return name_too_long(err, "Entry", entry);
    t->put(entry, vals);
    return true;
}

bool TableStore::remove_entry(std::string_view table, std::string_view entry, TableError* err) {
    NamedTable* t = lookup(table, err);
    if (!t) return false;
    if (!t->remove(entry)) return fail(err, "No entry exists with name " + quoted(entry));
    return true;
}

bool TableStore::entry_exists(std::string_view table, std::string_view entry, bool* exists,
                              TableError* err) const {
    const NamedTable* t = lookup(table, err);
    if (!t) return false;
    *exists = t->has_entry(entry);
    return true;
}

bool TableStore::entries_with_value(std::string_view table, std::string_view column,
                                    std::string_view value, std::vector<std::string>* names,
                                    TableError* err) const {
    const NamedTable* t = lookup(table, err);
    if (!t) return false;
    int col = t->column(column);
    if (col < 0) return no_column(err, column, table);
    for (const auto& [name, vals] : t->entries())
        if (vals[col] == value) names->push_back(name);
    return true;
}

bool TableStore::set_value(std::string_view table, std::string_view entry,
                           std::string_view column, std::string_view value, TableError* err) {
    NamedTable* t = lookup(table, err);
    if (!t) return false;
    auto* vals = t->values(entry);
    if (!vals) return no_entry(err, entry, table, TableErrorLevel::trace);
    int col = t->column(column);
    if (col < 0) return no_column(err, column, table, TableErrorLevel::trace);
    (*vals)[col] = value;
    return true;
}

bool TableStore::get_value(std::string_view table, std::string_view entry,
                           std::string_view column, std::string* value, TableError* err) const {
    const NamedTable* t = lookup(table, err);
    if (!t) return false;
    const auto* vals = t->values(entry);
    if (!vals) return no_entry(err, entry, table, TableErrorLevel::trace);
    int col = t->column(column);
    if (col < 0) return no_column(err, column, table, TableErrorLevel::trace);
    *value = (*vals)[col];
    return true;
}

bool TableStore::get_row(std::string_view table, std::string_view entry,
                         std::vector<std::string>* row, TableError* err) const {
    const NamedTable* t = lookup(table, err);
    if (!t) return false;
    const auto* vals = t->values(entry);
    if (!vals) return no_entry(err, entry, table);
    *row = *vals;
    return true;
}

bool TableStore::get_column(std::string_view table, std::string_view column,
                            std::vector<std::pair<std::string, std::string>>* pairs,
                            TableError* err) const {
    const NamedTable* t = lookup(table, err);
    if (!t) return false;
    int col = t->column(column);
    if (col < 0) return no_column(err, column, table);
    for (const auto& [name, vals] : t->entries()) pairs->emplace_back(name, vals[col]);
    return true;
}

bool TableStore::copy_entry(std::string_view table, std::string_view from, std::string_view to,
                            TableError* err) {
    NamedTable* t = lookup(table, err);
    if (!t) return false;
    const auto* src = t->values(from);
    if (!src) return no_entry(err, from, table);
    if (!t->has_entry(to) && to.size() > kTableNameMax) return name_too_long(err, "Entry", to);
    t->put(to, std::vector<std::string>(*src));
    return true;
}

bool TableStore::entry_names(std::string_view table, std::vector<std::string>* names,
                             TableError* err) const {
    const NamedTable* t = lookup(table, err);
    if (!t) return false;
    for (const auto& e : t->entries()) names->push_back(e.first);
    return true;
}

TableStore& table_store() {
    static TableStore store;
    return store;
}

}  // namespace zm
