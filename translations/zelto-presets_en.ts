<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>StatusText</name>
    <message numerus="yes">
        <source>received %n presets from %1</source>
        <translation>
            <numerusform>received %n preset from %1</numerusform>
            <numerusform>received %n presets from %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n of %1 presets could not be copied</source>
        <translation>
            <numerusform>%n of %1 presets could not be copied</numerusform>
            <numerusform>%n of %1 presets could not be copied</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n presets could not be synchronised</source>
        <translation>
            <numerusform>%n preset could not be synchronised</numerusform>
            <numerusform>%n presets could not be synchronised</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::MainController</name>
    <message numerus="yes">
        <source>Could not delete %1 of %n presets:</source>
        <translation>
            <numerusform>Could not delete %1 of %n preset:</numerusform>
            <numerusform>Could not delete %1 of %n presets:</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::PresetTreeModel</name>
    <message numerus="yes">
        <source>Group of %n presets</source>
        <translation>
            <numerusform>Group of %n preset</numerusform>
            <numerusform>Group of %n presets</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::SourceListModel</name>
    <message numerus="yes">
        <source>%1
%n presets</source>
        <translation>
            <numerusform>%1
%n preset</numerusform>
            <numerusform>%1
%n presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Mixer  ·  %n presets</source>
        <translation>
            <numerusform>Mixer  ·  %n preset</numerusform>
            <numerusform>Mixer  ·  %n presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Sync folder  ·  %n presets</source>
        <translation>
            <numerusform>Sync folder  ·  %n preset</numerusform>
            <numerusform>Sync folder  ·  %n presets</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::ui::MainWindow</name>
    <message numerus="yes">
        <source>%n presets</source>
        <translation>
            <numerusform>%n preset</numerusform>
            <numerusform>%n presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 sources · %n presets</source>
        <translation>
            <numerusform>%1 sources · %n preset</numerusform>
            <numerusform>%1 sources · %n presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n mixers   ·   Sync folder: %1</source>
        <translation>
            <numerusform>%n mixer   ·   Sync folder: %1</numerusform>
            <numerusform>%n mixers   ·   Sync folder: %1</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::ui::PresetDiffWindow</name>
    <message numerus="yes">
        <source>%n settings differ.</source>
        <translation>
            <numerusform>%n setting differs.</numerusform>
            <numerusform>%n settings differ.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::ui::StatusSheet</name>
    <message numerus="yes">
        <source>Finished with %n errors</source>
        <translation>
            <numerusform>Finished with %n error</numerusform>
            <numerusform>Finished with %n errors</numerusform>
        </translation>
    </message>
</context>
</TS>
