#pragma once
// What a raw corpus's vector file (test.dat, example.dat) was made from: a
// small record beside it ("test.dat.source") holding a fingerprint of the
// features.txt and classes.txt the vectors were written under. Vectors are
// only meaningful against those features and categories; after a new feature
// selection or another training corpus they must be written again before
// they are classified.
#include <string>

namespace kestrel {

enum class VectorOrigin {
    kUnrecorded,  // no record (a workspace from before records were kept)
    kCurrent,     // written under the workspace's present features and categories
    kStale,       // written under other features or categories
};

// The record's file name for a vector file name ("test.dat.source").
std::string vectorSourceFileName(const std::string& vectorFileName);

// Forgets the record of a vector file that is about to be rewritten.
void forgetVectorSource(const std::string& workspacePath, const std::string& vectorFileName);
// Records that the vector file was just written under the workspace's
// features.txt and classes.txt. False when the record cannot be written
// (the vectors then count as unrecorded).
bool recordVectorSource(const std::string& workspacePath, const std::string& vectorFileName);
// Compares the record with the workspace's present features.txt and
// classes.txt.
VectorOrigin vectorOrigin(const std::string& workspacePath, const std::string& vectorFileName);

}  // namespace kestrel
