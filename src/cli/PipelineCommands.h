#pragma once

namespace kestrel::cli {

// kestrel train: preprocessing, index, selection, vectors, params.dat and fsinfo.dat.
int runTrain(int argc, char** argv);
// kestrel classify: load a workspace, process and classify a corpus, report.
int runClassify(int argc, char** argv);

}  // namespace kestrel::cli
