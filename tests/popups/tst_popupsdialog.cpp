#include "common/allowedsites.h"
#include "common/errors.h"
#include "common/machinepolicies.h"
#include "common/registry.h"
#include "popups/popups.h"
#include "support/testenv.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

// The Allowed Sites dialog against a hive of its own; questions answered by script.
class tst_PopupsDialog : public EnvironmentSuite
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup();

    void opensEmptyWithAllowDisabled();
    void typing_data();
    void typing();
    void editingInsideKeepsTheCursor();
    void enterWithOnlyTheSchemeStoresNothing();
    void allowStoresTheDomainAndSelectsIt();
    void allowingAListedDomainRewritesNothing();
    void sitesSortedWithoutRegardToCase();
    void removeAsksFirst_data();
    void removeAsksFirst();
    void removeAllAsksFirst_data();
    void removeAllAsksFirst();
    void emptyListAsksNothing();
    void handMadeNamesWithBlanksCanBeRemoved();
    void markupInANameIsShownAsText_data();
    void markupInANameIsShownAsText();
    void closeRejects();
    void forbiddenChangesLeaveTheListAlone();

private:
    QStringList shownSites(const TfrmPopups &dialog) const;
    void type(TfrmPopups &dialog, const QString &text);
};

void tst_PopupsDialog::cleanup()
{
    EnvironmentSuite::cleanup();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QStringList tst_PopupsDialog::shownSites(const TfrmPopups &dialog) const
{
    QStringList sites;
    for (int row = 0; row < dialog.gridSites->rowCount(); ++row)
        sites << dialog.SiteCell(row);
    return sites;
}

void tst_PopupsDialog::type(TfrmPopups &dialog, const QString &text)
{
    dialog.edtWebsite->setFocus();
    dialog.edtWebsite->end(false);
    QTest::keyClicks(dialog.edtWebsite, text);
}

void tst_PopupsDialog::opensEmptyWithAllowDisabled()
{
    TfrmPopups dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("frmPopups"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Allowed Sites - Popups"));
    QCOMPARE(dialog.size(), QSize(489, 423));
    QCOMPARE(dialog.edtWebsite->text(), QStringLiteral("http://"));
    QVERIFY(!dialog.cbAllow->isEnabled());
    QCOMPARE(shownSites(dialog), QStringList{QString()}); // one empty row
    QCOMPARE(dialog.gridSites->horizontalHeaderItem(0)->text(), QStringLiteral("Sites"));
    QCOMPARE(dialog.gridSites->horizontalHeaderItem(1)->text(), QStringLiteral("Status"));
    QCOMPARE(dialog.gridSites->columnWidth(0), 200);
    QCOMPARE(dialog.gridSites->columnWidth(1), 1000);
    QCOMPARE(dialog.gridSites->verticalHeader()->width(), 15);
    QCOMPARE(dialog.gridSites->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QVERIFY(dialog.gridSites->editTriggers() == QAbstractItemView::NoEditTriggers);
    // Opening the dialog creates the key; it writes no value.
    QVERIFY(TRegistry().KeyExists(PopupStore::KeyPath()));
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_PopupsDialog::typing_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("backspaces");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allowEnabled");

    QTest::newRow("a letter enables") << "e" << 0 << "http://e" << true;
    QTest::newRow("capitals folded") << "WWW.Ex" << 0 << "http://www.ex" << true;
    QTest::newRow("only A to Z folded") << "ÄBC.example" << 0 << "http://Äbc.example" << true;
    QTest::newRow("trailing space dropped") << " " << 0 << "http://" << false;
    QTest::newRow("space after a name dropped") << "a.com " << 0 << "http://a.com" << true;
    QTest::newRow("space at the end gone before the next key") << "a b" << 0 << "http://ab" << true;
    QTest::newRow("back to the scheme") << "ab" << 2 << "http://" << false;
    QTest::newRow("into the scheme") << "" << 1 << "http:/" << true;
    QTest::newRow("down to nothing") << "" << 7 << "" << false;
}

void tst_PopupsDialog::typing()
{
    QFETCH(QString, keys);
    QFETCH(int, backspaces);
    QFETCH(QString, text);
    QFETCH(bool, allowEnabled);

    TfrmPopups dialog;
    dialog.show();
    type(dialog, keys);
    for (int i = 0; i < backspaces; ++i)
        QTest::keyClick(dialog.edtWebsite, Qt::Key_Backspace);
    QCOMPARE(dialog.edtWebsite->text(), text);
    QCOMPARE(dialog.cbAllow->isEnabled(), allowEnabled);
}

void tst_PopupsDialog::editingInsideKeepsTheCursor()
{
    TfrmPopups dialog;
    dialog.show();
    type(dialog, QStringLiteral("ab"));
    dialog.edtWebsite->setCursorPosition(8);
    QTest::keyClicks(dialog.edtWebsite, QStringLiteral(" X"));
    QCOMPARE(dialog.edtWebsite->text(), QStringLiteral("http://a xb"));
    QCOMPARE(dialog.edtWebsite->cursorPosition(), 10);
    dialog.edtWebsite->setCursorPosition(0);
    QTest::keyClick(dialog.edtWebsite, Qt::Key_Space);
    QCOMPARE(dialog.edtWebsite->text(), QStringLiteral("http://a xb"));
    QCOMPARE(dialog.edtWebsite->cursorPosition(), 0);
}

void tst_PopupsDialog::enterWithOnlyTheSchemeStoresNothing()
{
    TfrmPopups dialog;
    dialog.show();
    dialog.edtWebsite->setFocus();
    QTest::keyClick(dialog.edtWebsite, Qt::Key_Return);
    QVERIFY(PopupStore::ListSites().isEmpty());
    QCOMPARE(dialog.edtWebsite->text(), QStringLiteral("http://"));
    QVERIFY(m_dialogs->messages.isEmpty());

    // Enter works even while Allow is disabled, and never closes the dialog.
    dialog.edtWebsite->setText(QStringLiteral("http://Enter.example/x"));
    dialog.cbAllow->setEnabled(false);
    QTest::keyClick(dialog.edtWebsite, Qt::Key_Enter);
    QCOMPARE(PopupStore::ListSites(), QStringList{QStringLiteral("enter.example")});
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void tst_PopupsDialog::allowStoresTheDomainAndSelectsIt()
{
    PopupStore::AddSite(QStringLiteral("zzz.example"));
    PopupStore::AddSite(QStringLiteral("aaa.example"));
    TfrmPopups dialog;
    dialog.show();
    dialog.edtWebsite->clear();
    type(dialog, QStringLiteral("https://user:pw@WWW.Example.com:8080/a/page.html?x=1#y"));
    QVERIFY(dialog.cbAllow->isEnabled());
    QTest::mouseClick(dialog.cbAllow, Qt::LeftButton);

    QCOMPARE(PopupStore::ListSites().last(), QStringLiteral("www.example.com:8080"));
    QCOMPARE(dialog.edtWebsite->text(), QStringLiteral("http://"));
    QVERIFY(!dialog.cbAllow->isEnabled());
    QCOMPARE(shownSites(dialog),
             (QStringList{"aaa.example", "www.example.com:8080", "zzz.example"}));
    QCOMPARE(dialog.SelectedRow(), 1);
    QCOMPARE(dialog.gridSites->item(1, 1)->text(), QStringLiteral("Allow Popups"));
}

void tst_PopupsDialog::allowingAListedDomainRewritesNothing()
{
    {
        TRegistry registry;
        QVERIFY(registry.OpenKey(PopupStore::KeyPath(), true));
        registry.WriteString(QStringLiteral("b.example"), QStringLiteral("kept"));
        registry.WriteString(QStringLiteral("a.example"), QString());
    }
    TfrmPopups dialog;
    dialog.edtWebsite->setText(QStringLiteral("http://B.example/other/page"));
    dialog.cbAllowClick();

    QCOMPARE(PopupStore::ListSites(), (QStringList{"b.example", "a.example"}));
    TRegistry registry;
    QVERIFY(registry.OpenKey(PopupStore::KeyPath(), false));
    QCOMPARE(registry.ReadString(QStringLiteral("b.example")), QStringLiteral("kept"));
    QCOMPARE(dialog.SelectedRow(), 1);
}

void tst_PopupsDialog::sitesSortedWithoutRegardToCase()
{
    for (const char *name : {"gamma.COM", "Alpha.com", "beta.com", "", "   "})
        PopupStore::AddSite(QString::fromLatin1(name));
    TRegistry registry;
    QVERIFY(registry.OpenKey(PopupStore::KeyPath(), true));
    registry.WriteString(QString(), QStringLiteral("the unnamed value"));
    registry.CloseKey();

    TfrmPopups dialog;
    QCOMPARE(shownSites(dialog), (QStringList{"alpha.com", "beta.com", "gamma.com"}));
    QCOMPARE(dialog.StoredName(0), QStringLiteral("Alpha.com"));
}

void tst_PopupsDialog::removeAsksFirst_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("no") << QMessageBox::No << QStringList{"a.example", "b.example", "c.example"};
    QTest::newRow("yes") << QMessageBox::Yes << QStringList{"a.example", "c.example"};
}

void tst_PopupsDialog::removeAsksFirst()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, left);
    for (const char *name : {"a.example", "b.example", "c.example"})
        PopupStore::AddSite(QString::fromLatin1(name));
    TfrmPopups dialog;
    dialog.gridSites->selectRow(1);
    m_dialogs->messageAnswers << answer;
    dialog.cbRemoveClick();

    QCOMPARE(m_dialogs->messages.size(), 1);
    QCOMPARE(m_dialogs->lastMessage(),
             QStringLiteral("Remove the site \"b.example\" from the list of sites that popups "
                            "are permitted for?"));
    QCOMPARE(m_dialogs->messages.last().icon, QMessageBox::Question);
    QCOMPARE(m_dialogs->messages.last().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(PopupStore::ListSites(), left);
    QCOMPARE(shownSites(dialog), left);
    QCOMPARE(dialog.SelectedRow(), 1); // the row that took the removed one's place
}

void tst_PopupsDialog::removeAllAsksFirst_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("no") << QMessageBox::No << QStringList{"a.example", "b.example"};
    QTest::newRow("yes") << QMessageBox::Yes << QStringList{};
}

void tst_PopupsDialog::removeAllAsksFirst()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, left);
    PopupStore::AddSite(QStringLiteral("a.example"));
    PopupStore::AddSite(QStringLiteral("b.example"));
    TfrmPopups dialog;
    m_dialogs->messageAnswers << answer;
    dialog.cbRemoveAllClick();

    QCOMPARE(m_dialogs->lastMessage(),
             QStringLiteral("Clear the list of sites popups are permitted for?"));
    QCOMPARE(m_dialogs->messages.last().icon, QMessageBox::Question);
    QCOMPARE(PopupStore::ListSites(), left);
    QCOMPARE(shownSites(dialog), left.isEmpty() ? QStringList{QString()} : left);
}

void tst_PopupsDialog::emptyListAsksNothing()
{
    TfrmPopups dialog;
    dialog.gridSites->selectRow(0);
    QTest::mouseClick(dialog.cbRemove, Qt::LeftButton);
    QTest::mouseClick(dialog.cbRemoveAll, Qt::LeftButton);
    QVERIFY(m_dialogs->messages.isEmpty());

    PopupStore::AddSite(QStringLiteral("a.example"));
    dialog.LoadSites();
    dialog.gridSites->clearSelection();
    dialog.cbRemoveClick(); // nothing selected, nothing to ask
    QVERIFY(m_dialogs->messages.isEmpty());
}

// Names made by hand keep their blanks in the store; the dialog removes the stored name.
void tst_PopupsDialog::handMadeNamesWithBlanksCanBeRemoved()
{
    TRegistry registry;
    QVERIFY(registry.OpenKey(PopupStore::KeyPath(), true));
    registry.WriteString(QStringLiteral(" Hand.Made "), QString());
    registry.WriteString(QStringLiteral("\tOther.Made"), QString());
    registry.WriteString(QStringLiteral("plain.example"), QString());
    registry.CloseKey();

    TfrmPopups dialog;
    const int row = shownSites(dialog).indexOf(QStringLiteral("hand.made"));
    QVERIFY(row >= 0);
    dialog.gridSites->selectRow(row);
    m_dialogs->messageAnswers << QMessageBox::Yes;
    dialog.cbRemoveClick();
    QVERIFY(m_dialogs->lastMessage().contains(QStringLiteral("\"hand.made\"")));
    QVERIFY(!PopupStore::ListSites().contains(QStringLiteral(" Hand.Made ")));

    m_dialogs->messageAnswers << QMessageBox::Yes;
    dialog.cbRemoveAllClick();
    QVERIFY(PopupStore::ListSites().isEmpty());
}

void tst_PopupsDialog::markupInANameIsShownAsText_data()
{
    QTest::addColumn<QString>("site");
    QTest::newRow("tags") << "<b>x</b>";
    QTest::newRow("ampersand") << "a&b";
}

// The question goes through the program's real message box, as a person reads it.
void tst_PopupsDialog::markupInANameIsShownAsText()
{
    QFETCH(QString, site);
    PopupStore::AddSite(site);
    TfrmPopups dialog;
    dialog.gridSites->selectRow(0);
    m_dialogs.reset();

    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        shown = box->text();
        format = box->textFormat();
        box->button(QMessageBox::No)->click();
    });
    poll.start(10);
    dialog.cbRemoveClick();

    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shown, QStringLiteral("Remove the site \"") + site +
                        QStringLiteral("\" from the list of sites that popups are permitted for?"));
    QCOMPARE(PopupStore::ListSites(), QStringList{site}); // answered No
}

void tst_PopupsDialog::closeRejects()
{
    TfrmPopups dialog;
    dialog.show();
    QTest::mouseClick(dialog.cbClose, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

// A shared kiosk account: what one visitor allows is not there for the next. The
// administrator's own sites are named, and cannot be removed here either.
void tst_PopupsDialog::forbiddenChangesLeaveTheListAlone()
{
    MachinePolicies::AllowSite(QStringLiteral("shared.example"));
    MachinePolicies::SetUserChanges(false);
    MachinePolicies::Forget();
    PopupStore::AddSite(QStringLiteral("kept.example"), PopupStore::TBy::Administrator);
    QVERIFY_THROWS_EXCEPTION(EQuelvardError, PopupStore::AddSite(QStringLiteral("x.example")));

    TfrmPopups dialog;
    for (QWidget *control : std::initializer_list<QWidget *>{dialog.edtWebsite, dialog.cbAllow,
                                                             dialog.cbRemove, dialog.cbRemoveAll})
        QVERIFY(!control->isEnabled());
    const QString note = dialog.findChild<QLabel *>(QStringLiteral("lblMachineSites"))->text();
    QVERIFY2(note.contains(QStringLiteral("shared.example")) &&
                 note.contains(QStringLiteral("does not allow changes")),
             qPrintable(note));

    dialog.edtWebsite->setText(QStringLiteral("http://x.example"));
    QVERIFY(!dialog.cbAllow->isEnabled());
    dialog.cbAllowClick();
    dialog.gridSites->selectRow(0);
    m_dialogs->messageAnswers << QMessageBox::Yes << QMessageBox::Yes;
    dialog.cbRemoveClick();
    dialog.cbRemoveAllClick();
    QVERIFY(m_dialogs->messages.isEmpty());
    QCOMPARE(PopupStore::ListSites(), QStringList{QStringLiteral("kept.example")});
}

#include "support/testmain.h"
QUELVARD_TEST_MAIN(tst_PopupsDialog)
#include "tst_popupsdialog.moc"
