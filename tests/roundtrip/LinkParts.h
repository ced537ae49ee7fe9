#pragma once

#include "FakeEditor.h"
#include "Fakes.h"
#include "link/ConfigLink.h"
#include "platform/FatalError.h"
#include "store/ElementStore.h"

#include <QHostAddress>
#include <QTemporaryDir>

// What the configuration exchange stands on, for tests: a store in a fresh folder, scripted
// message boxes, a recorded program end, a plain-value editor and the real link, whose socket
// binds 127.0.0.1 when bound (a stand-in element can use 127.0.0.2).
struct LinkParts
{
    LinkParts()
        : fatal(boxes, programEnd), store(dir.filePath("nms.ini")),
          link(
              boxes, fatal, store, [this] { return editor.values.selectedMac; }, QHostAddress("127.0.0.1"))
    {
    }

    QTemporaryDir dir;
    FakeMessageBoxes boxes;
    FakeProgramEnd programEnd;
    vexo::FatalError fatal;
    vexo::ElementStore store;
    FakeEditor editor;
    vexo::ConfigLink link;
};
