// Every outcome of the configuration road becomes its message boxes, in their order, with the
// panel told what to show between them; and the window wires the station's outcomes to them.
#include "gui/OutcomeBoxes.h"
#include "AppFixture.h"
#include "link/ReplyHandler.h"

#include <QLabel>

#include <gtest/gtest.h>

using namespace vexo;

namespace {

using Result = ConfigureOutcome::Result;

QString saving(const char* field)
{
    return QStringLiteral("An error occured while saving '%1':\rFeedback is corrupted.").arg(field);
}

// "C|caption|text" for a critical box, "I|..." for information; "<role N>" and "<values>" where
// the panel is told.
QStringList shownFor(const ConfigureOutcome& o)
{
    FakeMessageBoxes boxes;
    QStringList seen;
    boxes.onShow = [&](const MessageBoxRequest& r) {
        seen << QStringLiteral("%1|%2|%3").arg(r.icon == MsgIcon::Critical ? "C" : "I", r.caption, r.text);
    };
    OutcomeBoxes(boxes).showConfigure(o,
                                      {[&](Role role) { seen << QStringLiteral("<role %1>").arg(int(role)); },
                                       [&](const ElementConfig&) { seen << "<values>"; }});
    return seen;
}

} // namespace

TEST(OutcomeBoxes, EachConfigureOutcomeGivesItsBoxesInOrder)
{
    const QString app = kAppTitle;
    auto outcome = [](Result result) {
        ConfigureOutcome o;
        o.result = result;
        o.reported.role = 2;
        return o;
    };
    ConfigureOutcome mismatch = outcome(Result::Mismatch);
    mismatch.differences = {{"Element Name", "name", "a", "b"},
                            {"Multicast IP", "multi", "1.1.1.1", "2.2.2.2"},
                            {"Audio TX", "tx", "0", "1"}};
    ConfigureOutcome unknown = outcome(Result::Mismatch);
    unknown.reported.role = 0, unknown.unknownRole = true;
    ConfigureOutcome writeFailed = mismatch;
    writeFailed.result = Result::StoreWriteFailed;
    ConfigureOutcome sendFailed = outcome(Result::SendFailed), portBusy = sendFailed;
    sendFailed.problem = {SendFailure::NoAddress,
                          "Cannot send to the Network Element: no IP address is stored for it."};
    portBusy.problem = {SendFailure::PortBusy, "Unable to use UDP port 2976: occupied."};
    ConfigureOutcome badMac = outcome(Result::CorruptedReply), refused = outcome(Result::Refused);
    badMac.corruptedField = "Element MAC";
    refused.refusal.reason = Refusal::Reason::Name;
    const QList<QPair<ConfigureOutcome, QStringList>> cases = {
        {outcome(Result::Confirmed),
         {"<role 2>", "<values>",
          "I|Configuration changed|New configuration has been sucessfuly saved and loaded!"}},
        {mismatch,
         {"C|" + app + "|" + saving("Element Name"), "C|" + app + "|" + saving("Audio TX"), "<role 2>",
          "C|" + app + "|" + saving("Multicast IP"), "<values>"}},
        {unknown, {"<role 0>", "<values>"}},
        {writeFailed,
         {"C|" + app + "|" + saving("Element Name"), "C|" + app + "|" + saving("Audio TX"), "<role 2>",
          "C|" + app + "|" + saving("Multicast IP"), "<values>", "C|" + app + "|" + storeWriteFailedText()}},
        {outcome(Result::NoAnswer),
         {"C|Error!|Waiting for a response from Network Element has timed out!\rCannot save."}},
        {outcome(Result::OtherElement),
         {"C|" + app +
          "|The response received does not match the selected element.\rCannot save this element info."}},
        {outcome(Result::CorruptedRecord),
         {"C|" + app +
          "|The data stored in your computer about this element, is corrupted.\rCannot save this element "
          "info."}},
        {badMac, {"C|" + app + "|An error occured while retrieving 'Element MAC':\rFeedback is corrupted."}},
        {sendFailed, {"C|" + app + "|" + sendFailed.problem.cause}},
        {portBusy, {}}, // the program end has said it
        {refused, {"C|Error!|Please verify that the name field is correct!\rCannot save."}},
    };
    for (const auto& [o, expected] : cases) {
        SCOPED_TRACE(int(o.result));
        EXPECT_EQ(shownFor(o), expected);
    }
}

TEST(OutcomeBoxes, RefusalsQuestionsAndTheFloodSummary)
{
    FakeMessageBoxes boxes;
    OutcomeBoxes shown(boxes);
    for (Refusal::Reason reason : {Refusal::Reason::NoElement, Refusal::Reason::AudioFields,
                                   Refusal::Reason::Addresses, Refusal::Reason::StoreMissing}) {
        Refusal r;
        r.reason = reason;
        shown.showRefusal(r);
    }
    EXPECT_EQ(boxes.texts(),
              (QStringList{"No Network Element selected!\rCannot save.",
                           "Please verify that all audio fields are correct!\rCannot save.",
                           "Please verify that all IP fields are correct!\rCannot save.",
                           "The local database in your computer, is corrupted!\rCannot save."}));
    boxes.clear();
    boxes.answers = {MsgAnswer::Yes};
    EXPECT_TRUE(shown.askSendConfiguration());
    EXPECT_FALSE(shown.askDiscovery()); // No is the default
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].caption, "Send configuration");
    EXPECT_EQ(boxes.shown[0].text,
              "This configuration will be sent to selected Network Element and\rwill also "
              "be saved to local database in your computer. \rAre you sure?");
    EXPECT_EQ(boxes.shown[1].caption, "Auto Discovery");
    boxes.clear();
    shown.showInvalidRepliesDropped(22999, {{"Audio Input", 11500}, {"Audio Type", 11499}});
    EXPECT_EQ(
        boxes.texts(),
        QStringList{"22999 more invalid replies were dropped (Audio Input: 11500, Audio Type: 11499)."});
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes.shown[0].caption, kAppTitle);
}

TEST(OutcomeBoxes, TheWindowShowsTheStationsOutcomesOnItsPanel)
{
    // GIVEN the window on an encoder that the operator has selected
    AppFixture f;
    MainWindow& w = f.startOn("[0050C2000001]\nNAME=AAA\nROLE=1\nIP=10.0.0.5\nMASK=255.0.0.0\nGW=10.0.0.1\n"
                              "REMOTE=10.0.0.6\nINPUT=1\nTYPE=1\nTX=0\n");
    // WHEN the station tells that the element answered as a decoder with serial 7
    ConfigureOutcome o;
    o.result = Result::Confirmed;
    o.reported.role = 2;
    o.shown.serial = 7;
    emit w.station().configured(o);
    // THEN the type and serial show it, and the success box follows
    EXPECT_EQ(w.findChild<QLabel*>("lblElementType")->text(), "DECODER");
    EXPECT_EQ(w.findChild<QLabel*>("lblSerialNumber")->text(), "7");
    EXPECT_EQ(f.boxes.texts().last(), "New configuration has been sucessfuly saved and loaded!");
    // AND Save changes with nothing selected is refused before any question
    f.boxes.clear();
    child<QAction>(w, "actSave")->trigger();
    EXPECT_EQ(f.boxes.texts(), QStringList{"No Network Element selected!\rCannot save."});
}
