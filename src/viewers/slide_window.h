#pragma once
// qrysw, the slide window: a small always-on-top window in the top-left
// corner that shows the pictures the main program distributes. It listens
// as "Ormbrook Slide Window"; a double click asks the main program for the
// picture panel.

namespace ormbrook {

int RunSlideWindow(int argc, char** argv);

} // namespace ormbrook
