// The MIB database: registered device images, object tables per image key,
// on-demand loading through an image's index file, and the look-ups.
#pragma once
#include <iosfwd>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mgmt/mibc.h"

namespace zm {

constexpr size_t kMibFieldMax = 79;  // longest image, library, index or platform text

enum MibType { kMibMdl = 0, kMibCdl = 1, kMibText = 2, kMibUnknown = -1 };

struct MibAttribute {
    std::string name;
    std::string oid;
    char syntax = 0;  // 0 when the syntax code is unknown
    char access = 'U';
    char status = 'U';
};

struct MibObject {
    std::string oid;
    std::vector<MibAttribute> attrs;  // in file order
};

struct MibImage {
    std::string image, library, index_file, platform;
    int type = kMibMdl;
    int key = 0;
    std::unique_ptr<MibCompiler> compiler;  // made on the first compilation
};

// Letters for the codes of the index file; the syntax letter is 0 for an
// unknown code, the others 'U'.
char mib_syntax_letter_of(const std::string& code);
char mib_access_letter_of(const std::string& code);
char mib_status_letter_of(const std::string& code);

// What a syntax, access or status look-up asks for.
enum class MibField { syntax, access, status };

// The process-wide database. Look-ups answer nullopt for "db_error".
// Diagnostics of loading (unreadable or malformed index lines, missing
// outside tools) are reported through the reporter; compiler messages go to
// the standard error stream.
class MibDatabase {
public:
    MibDatabase();

    // The key of the image with this directory: the existing one, or a new
    // one (the first image gets 1).
    int register_image(MibImage image);

    // "oid": NAME or NAME.ATTR (ATTR by name).
    std::optional<std::string> oid(int key, const std::string& path);
    // "name": the object or attribute whose OID is `oid`, among loaded objects only.
    std::optional<std::string> name(int key, const std::string& oid);
    // "syntax", "access", "status": NAME alone answers "P" / "NA" / "NA".
    std::optional<std::string> letter(int key, const std::string& path, MibField field);

    // Adds (or replaces) an object in the key-0 table; attributes are
    // (name, syntax code) pairs, numbered under `oid` by position.
    void load(const std::string& name, const std::string& oid,
              const std::vector<std::pair<std::string, std::string>>& attrs);
    // False when the key's table has no such object.
    bool unload(int key, const std::string& name);
    // Empties every table.
    void reset();

    // The syntax letter of a dotted OID in the current key's objects, with
    // trailing components cut off until a match; 0 when none.
    char syntax_letter(const std::string& oid) const;
    std::optional<int> current_key() const { return current_; }

    const MibImage* image(int key) const;

private:
    struct Table {
        int key = 0;
        std::list<std::pair<std::string, MibObject>> objects;  // in load order
        std::unordered_map<std::string, std::list<std::pair<std::string, MibObject>>::iterator> index;
    };
    Table* table(int key, bool create);
    MibObject* find(int key, const std::string& name);  // loads on demand
    std::optional<MibObject> load_from_image(MibImage& image, const std::string& name);

    std::vector<std::unique_ptr<MibImage>> images_;
    std::vector<Table> tables_;
    int counter_ = 0;
    std::optional<int> current_;
};

MibDatabase& mib_database();

// Reads an index file's object `name` with its attributes (every block of
// that object, in file order); nullopt when the file has none. Malformed
// lines are skipped with a Warning naming the file and line.
std::optional<MibObject> mib_read_index(const std::string& path, const std::string& name);
std::optional<MibObject> mib_read_index(std::istream& in, const std::string& file, const std::string& name);

// The module named for object `name` by an image's index file: the first line
// holding "(name) MODULE.ext" with a plain file name; lines that name the
// object without one are skipped with a Warning naming `file` and the line.
std::optional<std::string> mib_index_module(std::istream& in, const std::string& file, const std::string& name);

}  // namespace zm
