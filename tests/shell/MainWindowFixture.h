// The main window over a data folder as the tests of its flows need it: shown, its collection
// opened as at start-up, its drive services over the settings' CDPath (a disc image in tests).
#pragma once

#include "DMcd.h"
#include "DiscGlue.h"
#include "mdF.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace albumora::test {

class MainWindowFixture {
public:
    // Opens the window; a test asserts on opened() before it goes on.
    void openMainWindow(const QString& folder) {
        dm = std::make_unique<store::TDM>(folder);
        form = std::make_unique<shell::TForm1>(*dm, folder,
                                               [this](settings::RunSettings& s) { return shell::MakeDiscServices(s, *dm); });
        form->show();
        for (int i = 0; i < 20 && !form->collectionOpen(); ++i) QCoreApplication::processEvents();
    }
    bool opened() const { return form && form->collectionOpen(); }
    void closeMainWindow() {
        if (form) form->close();
        form.reset();
        dm.reset();
    }

    std::unique_ptr<store::TDM> dm;
    std::unique_ptr<shell::TForm1> form;
};

}  // namespace albumora::test
