// Starts, shows one window (or its minimal stand-in) until it has painted, and exits.
// With --rss it prints the process's peak resident memory in kB.

#include "ATCommandList.h"
#include "StudyList.h"
#include "WindowStyle.h"
#include "main.h"

#include <QApplication>
#include <QDialog>
#include <QTabWidget>

#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace {

long peakResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

std::unique_ptr<QWidget> makeWindow(const std::string& kind)
{
    if (kind == "main")
        return std::make_unique<TfrmMain>();
    if (kind == "tabs") {
        auto widget = std::make_unique<QWidget>();
        widget->setFont(qz::windowFont());
        widget->setFixedSize(520, 384);
        auto* tabs = new QTabWidget(widget.get());
        tabs->setGeometry(0, 0, 520, 359);
        for (const char* caption : {"Study Function for Master Role", "iBeacon function for Slave Role",
                                    "Broadcast Package"})
            tabs->addTab(new QWidget, QLatin1String(caption));
        return widget;
    }
    if (kind == "result") {
        auto result = std::make_unique<TfrmResult>(nullptr);
        const qz::GeneratorResult list = qz::BuildStudyList(0, "FFE1", "FFE1");
        for (const std::string& line : std::get<qz::CommandList>(list))
            result->AddLine(line);
        return result;
    }
    auto dialog = std::make_unique<QDialog>();
    dialog->setFont(qz::windowFont());
    dialog->setFixedSize(467, 424);
    return dialog;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string kind = argc > 1 ? argv[1] : "main";
    const bool reportMemory = argc > 2 && std::strcmp(argv[2], "--rss") == 0;
    QApplication application(argc, argv);
    const std::unique_ptr<QWidget> window = makeWindow(kind);
    window->show();
    // Painting the window into the backing store is part of showing it.
    window->repaint();
    QApplication::processEvents();
    if (reportMemory)
        std::cout << peakResidentKilobytes() << "\n";
    return 0;
}
