// Named tables for test scripts: tables of named columns holding named entries of text values.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zm {

// Longest table or entry name and most columns a table can hold.
inline constexpr size_t kTableNameMax = 51;
inline constexpr size_t kTableColumnsMax = 100;

// How loudly a failure is to be reported: most are faults, the lookups of
// set/get value fail quietly so scripts can probe for a value.
enum class TableErrorLevel { fault, trace };

struct TableError {
    TableErrorLevel level = TableErrorLevel::fault;
    std::string message;
};

// One table: its columns by position and its entries in insertion order.
class NamedTable {
public:
    NamedTable(std::string name, const std::vector<std::string>& columns);

    const std::string& name() const { return name_; }
    size_t column_count() const { return column_count_; }

    // Position of a column, or -1. A name given twice at creation refers to
    // its later position.
    int column(std::string_view name) const;

    bool has_entry(std::string_view name) const { return values(name) != nullptr; }
    const std::vector<std::string>* values(std::string_view entry) const;
    std::vector<std::string>* values(std::string_view entry);

    // Adds or replaces an entry; `vals` must have column_count() elements.
    void put(std::string_view entry, std::vector<std::string> vals);
    bool remove(std::string_view entry);

    // Entry names and values in insertion order.
    using Entry = std::pair<std::string, std::vector<std::string>>;
    const std::list<Entry>& entries() const { return entries_; }

private:
    std::string name_;
    size_t column_count_;
    std::map<std::string, int, std::less<>> columns_;
    std::list<Entry> entries_;
    std::map<std::string, std::list<Entry>::iterator, std::less<>> index_;
};

// The process-wide store of named tables. Every operation either succeeds or
// returns false and fills *err with the message to report; nothing throws
// except std::bad_alloc.
class TableStore {
public:
    bool create(std::string_view table, const std::vector<std::string>& columns, TableError* err);
    bool remove_table(std::string_view table, TableError* err);
    bool add_entry(std::string_view table, std::string_view entry,
                   const std::vector<std::string>& vals, TableError* err);
    bool remove_entry(std::string_view table, std::string_view entry, TableError* err);
    bool entry_exists(std::string_view table, std::string_view entry, bool* exists,
                      TableError* err) const;
    bool entries_with_value(std::string_view table, std::string_view column,
                            std::string_view value, std::vector<std::string>* names,
                            TableError* err) const;
    bool set_value(std::string_view table, std::string_view entry, std::string_view column,
                   std::string_view value, TableError* err);
    bool get_value(std::string_view table, std::string_view entry, std::string_view column,
                   std::string* value, TableError* err) const;
    bool get_row(std::string_view table, std::string_view entry, std::vector<std::string>* row,
                 TableError* err) const;
    // Pairs of (entry name, value in the column) for every entry.
    bool get_column(std::string_view table, std::string_view column,
                    std::vector<std::pair<std::string, std::string>>* pairs,
                    TableError* err) const;
    bool copy_entry(std::string_view table, std::string_view from, std::string_view to,
                    TableError* err);
    bool entry_names(std::string_view table, std::vector<std::string>* names,
                     TableError* err) const;

private:
    const NamedTable* lookup(std::string_view table, TableError* err) const;
    NamedTable* lookup(std::string_view table, TableError* err);

    std::map<std::string, std::unique_ptr<NamedTable>, std::less<>> tables_;
};

// The store shared by every interpreter of the process.
TableStore& table_store();

}  // namespace zm
