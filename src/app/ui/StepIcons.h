#pragma once
// The pictures of the main window's step buttons and of the window itself,
// drawn at run time so the program ships no image files.
#include <QPixmap>

class QPainter;

namespace kestrel {

// The picture of a step button (ids 1000..1010), `size` pixels square.
QPixmap stepIcon(int id, int size = 40);
// The program's icon: a kestrel in flight.
QPixmap applicationIcon(int size = 64);
// Paints the program's icon `size` units square onto any device (the build
// renders the installed icon files with it).
void paintApplicationIcon(QPainter& painter, double size);

}  // namespace kestrel
