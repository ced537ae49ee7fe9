#pragma once

#include "Fakes.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"
#include "store/SelectedElement.h"

#include <QHostAddress>
#include <QTemporaryDir>

// What the configuration exchange stands on, for tests: a store in a fresh folder, scripted
// message boxes, a recorded program end, the selected element and the real link, whose socket
// binds 127.0.0.1 when bound (a stand-in element can use 127.0.0.2).
struct LinkParts
{
    LinkParts()
        : fatal(boxes, programEnd), store(dir.filePath("nms.ini")), selection(store),
          link(boxes, fatal, selection, QHostAddress("127.0.0.1"))
    {
    }

    // Changes the configuration being edited.
    template <typename Edit> void edit(Edit change)
    {
        vexo::ElementConfig draft = selection.draft();
        change(draft);
        selection.setDraft(draft);
    }

    QTemporaryDir dir;
    FakeMessageBoxes boxes;
    FakeProgramEnd programEnd;
    vexo::FatalError fatal;
    vexo::ElementStore store;
    vexo::SelectedElement selection;
    vexo::ConfigLink link;
};
