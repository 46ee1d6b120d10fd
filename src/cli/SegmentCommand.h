#pragma once
// `kestrel segment`: the word segmenter on its own. argv[0] is "segment";
// the result is the exit code.

namespace kestrel {

int runSegmentCommand(int argc, char** argv);

}  // namespace kestrel
