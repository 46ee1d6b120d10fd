#pragma once
// The application object: records the start-up directory (the base of the
// segmenter's "data" directory) and runs the main window until it closes.
#include <QApplication>
#include <string>

namespace kestrel {

class CKestrelApp : public QApplication {
    Q_OBJECT
public:
    CKestrelApp(int& argc, char** argv);

    // The process's current directory when the program started, without a
    // trailing '/'.
    const std::string& startupDirectory() const { return startupDirectory_; }

    // Runs the main window as a modal dialog; the exit code of the program.
    int run();

private:
    std::string startupDirectory_;
};

}  // namespace kestrel
