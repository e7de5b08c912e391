#pragma once

// The application object: names the settings branch, runs the main dialog modally and lets
// the process end when the dialog ends.

#include <QString>

#include <cstdint>

class ConverterApp {
public:
    ConverterApp();
    ~ConverterApp();
    ConverterApp(const ConverterApp&) = delete;
    ConverterApp& operator=(const ConverterApp&) = delete;

    // Runs the program; returns false when the dialog has ended, so that the caller ends the
    // process without a message loop of its own.
    bool InitInstance();

    // 1 while the left mouse button is held down on the position slider.
    std::int32_t sliderDragging = 0;

    // The file named on the command line, opened once the dialog is up; empty for none.
    QString startFile;
};

// The one application object of the process; nullptr before it exists (as in tests that
// build the dialog on their own, where a default object stands in).
ConverterApp* theApp();
