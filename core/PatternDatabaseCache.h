#pragma once

#include "core/PatternSet.h"

#include <map>
#include <mutex>
#include <string>

// The compiled pattern databases of a net, kept in a file beside it so that a command
// run once per message (deliver) does not compile the same patterns at every start.
// Nothing in the file is trusted blindly: it is used only when its format and
// vectorscan's version are this program's, it is whole (every length within the file,
// a checksum over all of it) and an entry's key is exactly what the set would compile
// now; the library checks the database itself once more when it reads it. Anything else
// (an older net's patterns, a cut or changed file, another library version) is compiled
// afresh and the file written again, whole, under a new name renamed over the old one.
// It is a cache: a file that cannot be written costs the next start a compilation.
//
//   brevalo-pattern-cache 2\n
//   <vectorscan version>\n
//   per database: <key length> <key> <database length> <serialized database> (lengths
//   as 8-byte little-endian numbers)
//   <checksum of everything before it: NetSnapshot::digest, 8 bytes little-endian>
class PatternDatabaseCache : public PatternSet::DatabaseStore {
public:
    explicit PatternDatabaseCache(std::string fileName);

    hs_database* load(const std::string& key) override;
    void save(const std::string& key, const hs_database* database) override;

    // How many databases were taken from the file (for tests and the diagnostic log).
    int hits() const { return found; }

private:
    void readFile();
    void writeFile() const;

    std::string file;
    std::mutex mutex;
    bool read = false;
    std::map<std::string, std::string> kept; // key: serialized database, from the file
    std::map<std::string, std::string> used; // what this process asked for, to write back
    int found = 0;
};
