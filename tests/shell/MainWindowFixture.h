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
        session = std::make_unique<disc::Session>(folder);
        dm = &session->dm;
        form = std::make_unique<shell::TForm1>(*session, shell::MakeDiscServices);
        form->show();
        for (int i = 0; i < 20 && !form->collectionOpen(); ++i) QCoreApplication::processEvents();
    }
    bool opened() const { return form && form->collectionOpen(); }
    void closeMainWindow() {
        if (form) form->close();
        form.reset();
        dm = nullptr;
        session.reset();
    }

    std::unique_ptr<disc::Session> session;
    store::TDM* dm = nullptr;
    std::unique_ptr<shell::TForm1> form;
};

}  // namespace albumora::test
