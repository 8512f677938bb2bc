<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" sourcelanguage="en">
<context>
    <name>GuiPerson</name>
    <message>
        <location filename="../src/gui/guiperson.cpp" line="+244"/>
        <source>Can&apos;t open %1: it is not there.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Can&apos;t open %1: no program on this desktop opens it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ListExport</name>
    <message>
        <location filename="../src/output/listtotext.cpp" line="+44"/>
        <source>Can&apos;t write the list to %1: %2.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OpenFailure</name>
    <message>
        <location filename="../src/mail/openfailure.cpp" line="+18"/>
        <source>%1 is damaged: its header does not check out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>%1 is not an Outlook data file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>%1 is cut short: the file ends before its data does</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>%1 is an Outlook data file of a kind this program cannot read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>%1 cannot be opened: you are not allowed to read it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>%1 is not there: it has been moved, renamed or deleted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>%1 is not a mail store: no Maildir folder, mbox file or Outlook data file</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Options</name>
    <message>
        <location filename="../src/config/options.cpp" line="+162"/>
        <source>Can&apos;t save the settings to %1: %2.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ProgressWindow</name>
    <message>
        <location filename="../src/gui/guiperson.cpp" line="-148"/>
        <source>Stopping...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SaveRun</name>
    <message>
        <location filename="../src/output/saverun.cpp" line="+40"/>
        <source>%1 of %2 emails could not be written. The first: %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Saving was cancelled: %1 of %2 emails were saved, %3 were not.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+409"/>
        <source>Error in output format.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+121"/>
        <source>The manifest %1 cannot be used: %2. Nothing was saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Lines left out of the manifest %1: %2. The first: %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+27"/>
        <source>The index could not be written: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+17"/>
        <source>The &apos;Mail Folder&apos; box is blank</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>The &apos;Save to&apos; box is blank</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>There are no emails in the list.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>The %1 setting is %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Saving ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Saving %1 of %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Error saving email.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+27"/>
        <source>%1 of %2 emails have no attachments: nothing was written for them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>%1 new, %2 already saved.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Search</name>
    <message>
        <location filename="../src/mail/folderpath.cpp" line="+32"/>
        <source>Error: folder path should start with \\</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../src/mail/search.cpp" line="+77"/>
        <source>Can&apos;t access the specified Mail Folder.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>%1 folders and %2 messages could not be read. The first: %3</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Session</name>
    <message>
        <location filename="../src/app/session.cpp" line="+162"/>
        <source>%1 items that are not e-mail were not listed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+92"/>
        <source>Can&apos;t open the email.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <location filename="../src/app/startup.cpp" line="+169"/>
        <source>Enter debug level and options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Usage: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+59"/>
        <source>The command line holds %1 tokens; only the first %2 are read, so nothing is done.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>The &apos;Save to&apos; directory &quot;%1&quot; cannot be used: its name is not valid UTF-8.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillbox::AboutBox</name>
    <message>
        <location filename="../src/gui/aboutbox.cpp" line="+18"/>
        <source>About %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Version %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Copies e-mail from Maildir folders and Outlook data files into .msg, .txt, .rtf and .eml files.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillbox::FolderPicker</name>
    <message>
        <location filename="../src/gui/folderpicker.cpp" line="+45"/>
        <source>Add Outlook Data File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-6"/>
        <source>Add Mail Account</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Address of the account (imaps://user@mail.example.org):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Outlook Data Files (*.pst *.ost);;mbox Files (*);;All Files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Add Maildir Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+116"/>
        <source>Select Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Add Data File...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Outlook Data File (.pst, .ost)...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Maildir Folder...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Add Mail Account...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Remove Store</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+67"/>
        <source>%1 (cannot be opened: %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <source>(cannot be read: %1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+40"/>
        <source>Can&apos;t add %1 to the mail stores: %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+52"/>
        <source>%1 was found on this computer, not added here: it stays in the list.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Can&apos;t remove %1 from the mail stores.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillbox::MainWindow</name>
    <message>
        <location filename="../src/gui/mainwindow.cpp" line="+118"/>
        <source>Open Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Stop the search; the e-mails of the folders read so far are listed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+16"/>
        <source>Searching... %1 folders read, %2 e-mails found so far</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+60"/>
        <source>&amp;Mail Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <location line="+8"/>
        <source>...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-7"/>
        <source>&amp;Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Contents</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Save &amp;to:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>S&amp;ave</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Choose a mail folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Choose the directory to save into</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>List the e-mails of the mail folder and the folders below it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Save every e-mail of the list into the directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+26"/>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Export to Text File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>E&amp;xit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>&amp;Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Contents</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>&amp;FAQ</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Support</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>&amp;About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+34"/>
        <source>&amp;Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Save Selected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>&amp;Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+66"/>
        <source>frmMain.Automate: unrecognized command.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Choose Directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+8"/>
        <source>%1 is a file or folder on this computer, not a mail folder. Add it as a mail store?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <source>%1 could not be added as a mail store.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+23"/>
        <source>The list still shows the results of the last search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>1 e-mail listed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>%1 e-mails listed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Search cancelled after %1 folders: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+28"/>
        <source>1 e-mail saved to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>%1 e-mails saved to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>; %1 could not be written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>; cancelled, %1 not saved</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+46"/>
        <source>The folder %1 is no longer there; Save makes it again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillbox::OptionsDialog</name>
    <message>
        <location filename="../src/gui/optionsdialog.cpp" line="+150"/>
        <source>Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+60"/>
        <source>Saved Mail Filename</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+42"/>
        <source>Date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-41"/>
        <location line="+42"/>
        <source>From</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-41"/>
        <location line="+42"/>
        <source>Subject</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-41"/>
        <source>Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Custom Filename Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Outlook message (.msg)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Plain text (.txt)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>A directory per mail: text, HTML and attachments</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Internet mail (.eml)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Rich text (.rtf)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>PDF document (.pdf)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Only the attachments, each named after its mail</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+17"/>
        <location line="+173"/>
        <source>Clip Addresses to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-172"/>
        <location line="+172"/>
        <source>Clip Subject to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-171"/>
        <source>Output</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Exported Text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Custom Textline Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Select Email</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+5"/>
        <location line="+147"/>
        <source>Since</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-146"/>
        <location line="+146"/>
        <source>Before</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="-143"/>
        <source>Date Format</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Archiving</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Only new mail</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Index</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+1"/>
        <source>File times</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+2"/>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+7"/>
        <source>%1 Sent, %2 From, %3 Subject, %4 To, %5 Received, %6 EntryID, %7 Folder, %8 LatestTime</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+29"/>
        <source>Pick the date on a calendar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+52"/>
        <source>Replace your own template &quot;%1&quot; with the one the boxes give?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+29"/>
        <source>Type a date as %1 or %2, or leave the box empty.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+9"/>
        <source>%1: &quot;%2&quot; is not a date. %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>%1: &quot;%2&quot; is not a number of characters. Pick one of the list or type a whole number.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Output: &quot;%1&quot; is not a type this program writes. Pick one of %2.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
