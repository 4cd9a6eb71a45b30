<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>PresetGrouping</name>
    <message>
        <source>others</source>
        <translation>Sonstige</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Choose the sync folder</source>
        <translation>Sync-Ordner auswählen</translation>
    </message>
</context>
<context>
    <name>StatusText</name>
    <message>
        <source>local</source>
        <translation>lokal</translation>
    </message>
    <message>
        <source>failed! %1</source>
        <translation>Fehlgeschlagen! %1</translation>
    </message>
    <message>
        <source>failed! unknown error</source>
        <translation>Fehlgeschlagen! Unbekannter Fehler</translation>
    </message>
    <message>
        <source>copying %1 from %2 to %3</source>
        <translation>Kopiere %1 von %2 nach %3</translation>
    </message>
    <message>
        <source>requesting preset list from %1</source>
        <translation>Fordere Preset-Liste von %1 an</translation>
    </message>
    <message numerus="yes">
        <source>received %n presets from %1</source>
        <translation>
            <numerusform>%n Preset von %1 empfangen</numerusform>
            <numerusform>%n Presets von %1 empfangen</numerusform>
        </translation>
    </message>
    <message>
        <source>failed receiving preset list from %1: %2</source>
        <translation>Preset-Liste von %1 konnte nicht empfangen werden: %2</translation>
    </message>
    <message>
        <source>left out %1: it did not come online</source>
        <translation>%1 ausgelassen: nicht rechtzeitig online</translation>
    </message>
    <message>
        <source>could not copy &quot;%1&quot;: %2</source>
        <translation>„%1“ konnte nicht kopiert werden: %2</translation>
    </message>
    <message numerus="yes">
        <source>%n of %1 presets could not be copied</source>
        <translation>
            <numerusform>%n von %1 Presets konnte nicht kopiert werden</numerusform>
            <numerusform>%n von %1 Presets konnten nicht kopiert werden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n presets could not be synchronised</source>
        <translation>
            <numerusform>%n Preset konnte nicht synchronisiert werden</numerusform>
            <numerusform>%n Presets konnten nicht synchronisiert werden</numerusform>
        </translation>
    </message>
    <message>
        <source>failed sending preset %1 to %2: %3</source>
        <translation>Preset %1 konnte nicht an %2 gesendet werden: %3</translation>
    </message>
    <message>
        <source>preset %1 arrived changed on %2</source>
        <translation>Preset %1 ist verändert auf %2 angekommen</translation>
    </message>
    <message>
        <source>preset %1 did not arrive on %2</source>
        <translation>Preset %1 ist nicht auf %2 angekommen</translation>
    </message>
    <message>
        <source>restored the previous %1 on %2</source>
        <translation>Vorheriges %1 auf %2 wiederhergestellt</translation>
    </message>
    <message>
        <source>could not restore the previous %1 on %2</source>
        <translation>Vorheriges %1 auf %2 konnte nicht wiederhergestellt werden</translation>
    </message>
    <message>
        <source>failed reloading local presets: %1</source>
        <translation>Lokale Presets konnten nicht neu geladen werden: %1</translation>
    </message>
    <message>
        <source>sync started</source>
        <translation>Abgleich gestartet</translation>
    </message>
    <message>
        <source>preset manager sync finish</source>
        <translation>Preset-Abgleich abgeschlossen</translation>
    </message>
    <message>
        <source>requesting local preset list</source>
        <translation>Fordere lokale Preset-Liste an</translation>
    </message>
    <message>
        <source>received preset list from %1:</source>
        <translation>Preset-Liste von %1 empfangen:</translation>
    </message>
    <message>
        <source>received local preset list:</source>
        <translation>Lokale Preset-Liste empfangen:</translation>
    </message>
    <message>
        <source>failed receiving local preset list: %1</source>
        <translation>Lokale Preset-Liste konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>required remote presets: %1</source>
        <translation>Benötigte Presets der Mischpulte: %1</translation>
    </message>
    <message>
        <source>requested preset %1 from %2</source>
        <translation>Preset %1 von %2 angefordert</translation>
    </message>
    <message>
        <source>received preset %1 from %2</source>
        <translation>Preset %1 von %2 empfangen</translation>
    </message>
    <message>
        <source>failed receiving preset %1 from %2</source>
        <translation>Preset %1 konnte nicht von %2 empfangen werden</translation>
    </message>
    <message>
        <source>writing preset to disk %1</source>
        <translation>Speichere Preset %1</translation>
    </message>
    <message>
        <source>overwriting preset on disk %1</source>
        <translation>Überschreibe gespeichertes Preset %1</translation>
    </message>
    <message>
        <source>failed writing preset %1 to disk: %2</source>
        <translation>Preset %1 konnte nicht gespeichert werden: %2</translation>
    </message>
    <message>
        <source>sent preset %1 to %2 overwriting yes</source>
        <translation>Preset %1 an %2 gesendet (überschrieben)</translation>
    </message>
    <message>
        <source>sent preset %1 to %2 overwriting no</source>
        <translation>Preset %1 an %2 gesendet (neu)</translation>
    </message>
    <message>
        <source>sending preset %1 to %2 again: not stored as sent</source>
        <translation>Sende Preset %1 erneut an %2: nicht wie gesendet gespeichert</translation>
    </message>
    <message>
        <source>starting sync</source>
        <translation>Abgleich beginnt</translation>
    </message>
    <message>
        <source>sync finished</source>
        <translation>Abgleich beendet</translation>
    </message>
    <message>
        <source>starting copy</source>
        <translation>Kopieren beginnt</translation>
    </message>
    <message>
        <source>copy finished</source>
        <translation>Kopieren beendet</translation>
    </message>
    <message>
        <source>reloading preset lists</source>
        <translation>Lade Preset-Listen neu</translation>
    </message>
    <message>
        <source>finished!</source>
        <translation>Fertig!</translation>
    </message>
    <message>
        <source>reloading local presets</source>
        <translation>Lade lokale Presets neu</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>Abgebrochen</translation>
    </message>
    <message>
        <source>deviceIsOffline</source>
        <translation>Mischpult ist offline</translation>
    </message>
    <message>
        <source>connectionAlreadyStarted</source>
        <translation>Verbindung besteht bereits</translation>
    </message>
    <message>
        <source>sessionEnded</source>
        <translation>Sitzung beendet</translation>
    </message>
    <message>
        <source>localPathDoesNotExist</source>
        <translation>Lokaler Ordner existiert nicht</translation>
    </message>
    <message>
        <source>emptyPreset</source>
        <translation>Leeres Preset</translation>
    </message>
    <message>
        <source>presetDoesNotExistAtSource</source>
        <translation>Preset existiert an der Quelle nicht</translation>
    </message>
    <message>
        <source>presetDoesNotExist</source>
        <translation>Preset existiert nicht</translation>
    </message>
    <message>
        <source>invalidPath</source>
        <translation>Ungültiger Pfad</translation>
    </message>
    <message>
        <source>cannotKeepOldPreset</source>
        <translation>Bisheriges Preset kann nicht aufbewahrt werden</translation>
    </message>
    <message>
        <source>undoIncomplete</source>
        <translation>Rückgängig machen unvollständig</translation>
    </message>
    <message>
        <source>presetNotStored</source>
        <translation>Preset nicht gespeichert</translation>
    </message>
    <message>
        <source>presetStoredDifferently</source>
        <translation>Preset abweichend gespeichert</translation>
    </message>
</context>
<context>
    <name>ViewRules</name>
    <message>
        <source>the mixer %1 is no longer connected</source>
        <translation>das Mischpult %1 ist nicht mehr verbunden</translation>
    </message>
    <message>
        <source>the sync folder&apos;s list could not be read</source>
        <translation>die Liste des Sync-Ordners konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>a preset name holding &quot;/&quot; cannot be a file name</source>
        <translation>ein Preset-Name mit „/“ kann kein Dateiname sein</translation>
    </message>
    <message>
        <source>it is no longer listed on %1</source>
        <translation>es ist auf %1 nicht mehr vorhanden</translation>
    </message>
    <message>
        <source>no group of this name is shown</source>
        <translation>keine angezeigte Gruppe trägt diesen Namen</translation>
    </message>
    <message>
        <source>local</source>
        <translation>lokal</translation>
    </message>
    <message>
        <source>this names no preset or group</source>
        <translation>dies bezeichnet weder ein Preset noch eine Gruppe</translation>
    </message>
    <message>
        <source>your zelto hardware</source>
        <translation>Ihre Zelto-Hardware</translation>
    </message>
    <message>
        <source>Are you sure you want to load &quot;%1&quot; on %2? This will overwrite all current settings on the device!</source>
        <translation>Möchten Sie „%1“ wirklich auf %2 laden? Dabei werden alle aktuellen Einstellungen des Geräts überschrieben!</translation>
    </message>
    <message>
        <source>Warning!</source>
        <translation>Achtung!</translation>
    </message>
    <message>
        <source>load</source>
        <translation>Laden</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>zelto::CompareGridModel</name>
    <message>
        <source>missing</source>
        <translation>fehlt</translation>
    </message>
    <message>
        <source>content not known yet</source>
        <translation>Inhalt noch unbekannt</translation>
    </message>
    <message>
        <source>same as the folder</source>
        <translation>wie im Ordner</translation>
    </message>
    <message>
        <source>differs from the folder</source>
        <translation>anders als im Ordner</translation>
    </message>
    <message>
        <source>only here</source>
        <translation>nur hier</translation>
    </message>
    <message>
        <source>%1 on %2: %3</source>
        <translation>%1 auf %2: %3</translation>
    </message>
    <message>
        <source>Preset</source>
        <translation>Preset</translation>
    </message>
</context>
<context>
    <name>zelto::DataStore</name>
    <message>
        <source>Zelto App (local)</source>
        <translation>Zelto App (lokal)</translation>
    </message>
</context>
<context>
    <name>zelto::HistoryModel</name>
    <message>
        <source>The history of the sync folder cannot be read: %1.</source>
        <translation>Der Verlauf des Sync-Ordners kann nicht gelesen werden: %1.</translation>
    </message>
    <message>
        <source>Nothing in it is changed. A copy or delete that would replace or delete a preset asks before it goes on without keeping a copy.</source>
        <translation>Darin wird nichts verändert. Ein Kopieren oder Löschen, das ein Preset ersetzen oder löschen würde, fragt nach, bevor es ohne Sicherungskopie weitermacht.</translation>
    </message>
    <message>
        <source>The history is damaged: one of its entries cannot be read and is not shown.</source>
        <translation>Der Verlauf ist beschädigt: Einer seiner Einträge kann nicht gelesen werden und wird nicht angezeigt.</translation>
    </message>
    <message>
        <source>The history is damaged: %1 of its entries cannot be read and are not shown.</source>
        <translation>Der Verlauf ist beschädigt: %1 seiner Einträge können nicht gelesen werden und werden nicht angezeigt.</translation>
    </message>
    <message>
        <source>sync folder</source>
        <translation>Sync-Ordner</translation>
    </message>
    <message>
        <source>mixer %1</source>
        <translation>Mischpult %1</translation>
    </message>
    <message>
        <source>mixer %1 (serial %2)</source>
        <translation>Mischpult %1 (Seriennummer %2)</translation>
    </message>
    <message>
        <source>deleted</source>
        <translation>gelöscht</translation>
    </message>
    <message>
        <source>deleted by an undo</source>
        <translation>durch Rückgängigmachen gelöscht</translation>
    </message>
    <message>
        <source>replaced by a copy from the sync folder</source>
        <translation>ersetzt durch eine Kopie aus dem Sync-Ordner</translation>
    </message>
    <message>
        <source>replaced by a copy from mixer %1</source>
        <translation>ersetzt durch eine Kopie von Mischpult %1</translation>
    </message>
    <message>
        <source>replaced by restoring version %1</source>
        <translation>ersetzt durch Wiederherstellen von Version %1</translation>
    </message>
    <message>
        <source>replaced by a sync</source>
        <translation>durch einen Abgleich ersetzt</translation>
    </message>
    <message>
        <source>replaced by an undo</source>
        <translation>durch Rückgängigmachen ersetzt</translation>
    </message>
    <message>
        <source>replaced</source>
        <translation>ersetzt</translation>
    </message>
    <message>
        <source>1 version</source>
        <translation>1 Version</translation>
    </message>
    <message>
        <source>%1 versions</source>
        <translation>%1 Versionen</translation>
    </message>
    <message>
        <source>%1 · %2</source>
        <translation>%1 · %2</translation>
    </message>
    <message>
        <source>Version %1 of %2, %3 bytes</source>
        <translation>Version %1 von %2, %3 Bytes</translation>
    </message>
    <message>
        <source>Preset / When</source>
        <translation>Preset / Zeitpunkt</translation>
    </message>
    <message>
        <source>Where</source>
        <translation>Ort</translation>
    </message>
    <message>
        <source>Why</source>
        <translation>Grund</translation>
    </message>
</context>
<context>
    <name>zelto::MainController</name>
    <message>
        <source>Couldn&apos;t load local preset list: %1
Please consider resetting your local sync directory in the app settings!</source>
        <translation>Die lokale Preset-Liste konnte nicht geladen werden: %1
Bitte setzen Sie gegebenenfalls den Sync-Ordner in den Einstellungen zurück!</translation>
    </message>
    <message>
        <source>the mixer %1 is no longer connected</source>
        <translation>das Mischpult %1 ist nicht mehr verbunden</translation>
    </message>
    <message>
        <source>Could not reload preset lists:</source>
        <translation>Die Preset-Listen konnten nicht neu geladen werden:</translation>
    </message>
    <message>
        <source>Could not delete local preset %1</source>
        <translation>Das lokale Preset %1 konnte nicht gelöscht werden</translation>
    </message>
    <message numerus="yes">
        <source>Could not delete %1 of %n presets:</source>
        <translation>
            <numerusform>Löschen fehlgeschlagen bei %1 von %n Preset:</numerusform>
            <numerusform>Löschen fehlgeschlagen bei %1 von %n Presets:</numerusform>
        </translation>
    </message>
    <message>
        <source>copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>sync</source>
        <translation>Abgleich</translation>
    </message>
    <message>
        <source>delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>presets whose contents are not known yet: %1</source>
        <translation>Presets, deren Inhalt noch unbekannt ist: %1</translation>
    </message>
    <message>
        <source>fetching %1 from %2</source>
        <translation>Hole %1 von %2</translation>
    </message>
    <message>
        <source>%1 did not arrive from %2; its content stays unknown</source>
        <translation>%1 ist nicht von %2 angekommen; sein Inhalt bleibt unbekannt</translation>
    </message>
    <message>
        <source>%1 of the presets to delete could not be kept in the history.</source>
        <translation>%1 der zu löschenden Presets konnten nicht im Verlauf aufbewahrt werden.</translation>
    </message>
    <message>
        <source>not deleted, as no copy of it could be kept</source>
        <translation>nicht gelöscht, da keine Kopie davon aufbewahrt werden konnte</translation>
    </message>
    <message>
        <source>starting undo</source>
        <translation>Rückgängigmachen beginnt</translation>
    </message>
    <message>
        <source>undid the last %1</source>
        <translation>Letzte Aktion (%1) rückgängig gemacht</translation>
    </message>
    <message>
        <source>nothing to undo</source>
        <translation>Nichts rückgängig zu machen</translation>
    </message>
    <message>
        <source>starting restore</source>
        <translation>Wiederherstellen beginnt</translation>
    </message>
    <message>
        <source>the sync folder</source>
        <translation>den Sync-Ordner</translation>
    </message>
    <message>
        <source>restoring version %1 of %2 to %3</source>
        <translation>Stelle Version %1 von %2 auf %3 wieder her</translation>
    </message>
    <message>
        <source>could not restore version %1 of %2: %3</source>
        <translation>Version %1 von %2 konnte nicht wiederhergestellt werden: %3</translation>
    </message>
    <message>
        <source>%1 of %2 versions could not be restored</source>
        <translation>%1 von %2 Versionen konnten nicht wiederhergestellt werden</translation>
    </message>
    <message>
        <source>going on without keeping a copy, as chosen</source>
        <translation>Es geht wie gewählt ohne Sicherungskopie weiter</translation>
    </message>
    <message>
        <source>A copy of what would be replaced or deleted cannot be kept.</source>
        <translation>Eine Kopie dessen, was ersetzt oder gelöscht würde, kann nicht aufbewahrt werden.</translation>
    </message>
    <message>
        <source>Go on without a copy? What is replaced or deleted then cannot be brought back. The answer holds for the rest of this action.</source>
        <translation>Ohne Kopie weitermachen? Was dann ersetzt oder gelöscht wird, lässt sich nicht zurückholen. Die Antwort gilt für den Rest dieser Aktion.</translation>
    </message>
    <message>
        <source>Go On Without a Copy</source>
        <translation>Ohne Kopie weitermachen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>starting compare</source>
        <translation>Vergleich beginnt</translation>
    </message>
    <message>
        <source>%1 of the presets could not be fetched; their contents stay unknown</source>
        <translation>%1 der Presets konnten nicht geholt werden; ihr Inhalt bleibt unbekannt</translation>
    </message>
    <message>
        <source>compare finished: %1 presets fetched</source>
        <translation>Vergleich beendet: %1 Presets geholt</translation>
    </message>
    <message>
        <source>it did not arrive from the mixer</source>
        <translation>es ist nicht vom Mischpult angekommen</translation>
    </message>
    <message>
        <source>it is not a preset document</source>
        <translation>es ist kein Preset-Dokument</translation>
    </message>
    <message>
        <source>Nothing was deleted: wait until the current run has ended.</source>
        <translation>Nichts wurde gelöscht: Bitte warten, bis der laufende Vorgang beendet ist.</translation>
    </message>
</context>
<context>
    <name>zelto::MixerRegistry</name>
    <message>
        <source>Discoverer could not be started: %1</source>
        <translation>Die Suche nach Mischpulten konnte nicht gestartet werden: %1</translation>
    </message>
</context>
<context>
    <name>zelto::PresetDiffModel</name>
    <message>
        <source>preset</source>
        <translation>Preset</translation>
    </message>
    <message>
        <source>mix</source>
        <translation>Mix</translation>
    </message>
    <message>
        <source>channel</source>
        <translation>Kanal</translation>
    </message>
    <message>
        <source>group</source>
        <translation>Gruppe</translation>
    </message>
    <message>
        <source>routing</source>
        <translation>Routing</translation>
    </message>
    <message>
        <source>other content</source>
        <translation>weiterer Inhalt</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(keins)</translation>
    </message>
    <message>
        <source>Section</source>
        <translation>Bereich</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>Einstellung</translation>
    </message>
</context>
<context>
    <name>zelto::PresetTreeModel</name>
    <message>
        <source>local</source>
        <translation>lokal</translation>
    </message>
    <message numerus="yes">
        <source>Group of %n presets</source>
        <translation>
            <numerusform>Gruppe mit %n Preset</numerusform>
            <numerusform>Gruppe mit %n Presets</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::SettingsController</name>
    <message>
        <source>Could not reload local preset list: %1</source>
        <translation>Die lokale Preset-Liste konnte nicht neu geladen werden: %1</translation>
    </message>
</context>
<context>
    <name>zelto::SingleInstance</name>
    <message>
        <source>zelto-presets is already running</source>
        <translation>zelto-presets läuft bereits</translation>
    </message>
</context>
<context>
    <name>zelto::SourceListModel</name>
    <message numerus="yes">
        <source>%1
%n presets</source>
        <translation>
            <numerusform>%1
%n Preset</numerusform>
            <numerusform>%1
%n Presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Mixer  ·  %n presets</source>
        <translation>
            <numerusform>Mischpult  ·  %n Preset</numerusform>
            <numerusform>Mischpult  ·  %n Presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Sync folder  ·  %n presets</source>
        <translation>
            <numerusform>Sync-Ordner  ·  %n Preset</numerusform>
            <numerusform>Sync-Ordner  ·  %n Presets</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::ui::CompareWindow</name>
    <message>
        <source>Compare</source>
        <translation>Vergleichen</translation>
    </message>
    <message>
        <source>Comparison</source>
        <translation>Vergleich</translation>
    </message>
    <message>
        <source>One row per preset name, one column per source, the sync folder first. Drag a cell onto another column to copy that preset there.</source>
        <translation>Eine Zeile je Preset-Name, eine Spalte je Quelle, der Sync-Ordner zuerst. Ziehen Sie eine Zelle auf eine andere Spalte, um das Preset dorthin zu kopieren.</translation>
    </message>
    <message>
        <source>Only rows that differ or are missing somewhere</source>
        <translation>Nur Zeilen, die irgendwo abweichen oder fehlen</translation>
    </message>
    <message>
        <source>Compare Contents</source>
        <translation>Inhalte vergleichen</translation>
    </message>
    <message>
        <source>Fetch the mixers&apos; presets whose contents are not known yet, and compare them with the folder&apos;s</source>
        <translation>Die Presets der Mischpulte holen, deren Inhalt noch unbekannt ist, und mit denen des Ordners vergleichen</translation>
    </message>
    <message>
        <source>Make Like the Folder</source>
        <translation>Wie im Ordner machen</translation>
    </message>
    <message>
        <source>Copy the folder&apos;s preset onto the mixers of the chosen cells; what is there now is kept in the history first</source>
        <translation>Das Preset des Ordners auf die Mischpulte der gewählten Zellen kopieren; was dort jetzt liegt, wird zuvor im Verlauf aufbewahrt</translation>
    </message>
    <message>
        <source>Compare Presets</source>
        <translation>Presets vergleichen</translation>
    </message>
    <message>
        <source>Show how the presets of the two chosen cells differ (Ctrl+Shift+D)</source>
        <translation>Zeigen, wie sich die Presets der beiden gewählten Zellen unterscheiden (Strg+Umschalt+D)</translation>
    </message>
    <message>
        <source>Sync folder</source>
        <translation>Sync-Ordner</translation>
    </message>
    <message>
        <source>%1 names · %2 not the same everywhere · %3 not known yet</source>
        <translation>%1 Namen · %2 nicht überall gleich · %3 noch unbekannt</translation>
    </message>
</context>
<context>
    <name>zelto::ui::DeviceInfoSheet</name>
    <message>
        <source>Mixer Information</source>
        <translation>Mischpult-Informationen</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Serial number:</source>
        <translation>Seriennummer:</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>Modell:</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>UID:</source>
        <translation>UID:</translation>
    </message>
    <message>
        <source>Mixes:</source>
        <translation>Mixe:</translation>
    </message>
    <message>
        <source>%1 (disconnected)</source>
        <translation>%1 (nicht mehr verbunden)</translation>
    </message>
</context>
<context>
    <name>zelto::ui::HistoryWindow</name>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Nothing has been replaced or deleted yet. Every preset that a copy, a sync, a delete or a restore replaces or deletes is kept here.</source>
        <translation>Bisher wurde nichts ersetzt oder gelöscht. Jedes Preset, das ein Kopieren, Abgleichen, Löschen oder Wiederherstellen ersetzt oder löscht, wird hier aufbewahrt.</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Put the selected versions back at the chosen source; what is there now is kept in the history first</source>
        <translation>Die gewählten Versionen an der gewählten Quelle wiederherstellen; was dort jetzt liegt, wird zuvor im Verlauf aufbewahrt</translation>
    </message>
    <message>
        <source>Restore to:</source>
        <translation>Wiederherstellen nach:</translation>
    </message>
    <message>
        <source>Or drag a version onto a source in the main window.</source>
        <translation>Oder ziehen Sie eine Version auf eine Quelle im Hauptfenster.</translation>
    </message>
</context>
<context>
    <name>zelto::ui::MainWindow</name>
    <message>
        <source>Zelto Presets</source>
        <translation>Zelto Presets</translation>
    </message>
    <message>
        <source>&amp;Rescan Network</source>
        <translation>Netzwerk neu &amp;durchsuchen</translation>
    </message>
    <message>
        <source>Look for mixers on the network again (F5)</source>
        <translation>Erneut nach Mischpulten im Netzwerk suchen (F5)</translation>
    </message>
    <message>
        <source>&amp;Sync All</source>
        <translation>Alle &amp;synchronisieren</translation>
    </message>
    <message>
        <source>Make the sync folder and every mixer hold the same presets (Ctrl+Shift+S)</source>
        <translation>Sync-Ordner und alle Mischpulte auf denselben Preset-Stand bringen (Strg+Umschalt+S)</translation>
    </message>
    <message>
        <source>S&amp;ettings…</source>
        <translation>&amp;Einstellungen…</translation>
    </message>
    <message>
        <source>Sync folder and mixers by address (Ctrl+,)</source>
        <translation>Sync-Ordner und Mischpulte nach Adresse (Strg+,)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;About Zelto Presets</source>
        <translation>Ü&amp;ber Zelto Presets</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Löschen</translation>
    </message>
    <message>
        <source>&amp;Load on Mixer…</source>
        <translation>Auf Mischpult &amp;laden…</translation>
    </message>
    <message>
        <source>Mixer &amp;Information…</source>
        <translation>Mischpult-&amp;Informationen…</translation>
    </message>
    <message>
        <source>&amp;Identify</source>
        <translation>Identi&amp;fizieren</translation>
    </message>
    <message>
        <source>Make the mixer&apos;s display blink</source>
        <translation>Das Display des Mischpults blinken lassen</translation>
    </message>
    <message>
        <source>Mixer Information…</source>
        <translation>Mischpult-Informationen…</translation>
    </message>
    <message>
        <source>Identify</source>
        <translation>Identifizieren</translation>
    </message>
    <message>
        <source>Copy To</source>
        <translation>Kopieren nach</translation>
    </message>
    <message>
        <source>Load on Mixer…</source>
        <translation>Auf Mischpult laden…</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Copy Selected To</source>
        <translation>Auswahl &amp;kopieren nach</translation>
    </message>
    <message>
        <source>&amp;Mixer</source>
        <translation>&amp;Mischpult</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Main</source>
        <translation>Werkzeugleiste</translation>
    </message>
    <message>
        <source>Sources</source>
        <translation>Quellen</translation>
    </message>
    <message>
        <source>The sync folder and the mixers found on the network. Select one or more to see their presets; drop presets on one to copy them there.</source>
        <translation>Der Sync-Ordner und die im Netzwerk gefundenen Mischpulte. Wählen Sie eine oder mehrere Quellen, um ihre Presets zu sehen; legen Sie Presets auf einer Quelle ab, um sie dorthin zu kopieren.</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>The presets of the selected sources, in groups by the start of their names. Drag presets onto a source to copy them.</source>
        <translation>Die Presets der ausgewählten Quellen, nach dem Anfang ihrer Namen gruppiert. Ziehen Sie Presets auf eine Quelle, um sie zu kopieren.</translation>
    </message>
    <message>
        <source>Drag presets onto a source to copy them</source>
        <translation>Presets zum Kopieren auf eine Quelle ziehen</translation>
    </message>
    <message>
        <source>Select a source on the left to see its presets.</source>
        <translation>Wählen Sie links eine Quelle, um ihre Presets zu sehen.</translation>
    </message>
    <message numerus="yes">
        <source>%n presets</source>
        <translation>
            <numerusform>%n Preset</numerusform>
            <numerusform>%n Presets</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 sources · %n presets</source>
        <translation>
            <numerusform>%1 Quellen · %n Preset</numerusform>
            <numerusform>%1 Quellen · %n Presets</numerusform>
        </translation>
    </message>
    <message>
        <source>No presets here yet.</source>
        <translation>Hier gibt es noch keine Presets.</translation>
    </message>
    <message>
        <source>No presets.</source>
        <translation>Keine Presets.</translation>
    </message>
    <message>
        <source>No mixer found yet   ·   Sync folder: %1</source>
        <translation>Noch kein Mischpult gefunden   ·   Sync-Ordner: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n mixers   ·   Sync folder: %1</source>
        <translation>
            <numerusform>%n Mischpult   ·   Sync-Ordner: %1</numerusform>
            <numerusform>%n Mischpulte   ·   Sync-Ordner: %1</numerusform>
        </translation>
    </message>
    <message>
        <source>About Zelto Presets</source>
        <translation>Über Zelto Presets</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>&amp;Rückgängig</translation>
    </message>
    <message>
        <source>Put back what the last copy, sync, delete or restore replaced, deleted or added</source>
        <translation>Zurückholen, was das letzte Kopieren, Abgleichen, Löschen oder Wiederherstellen ersetzt, gelöscht oder hinzugefügt hat</translation>
    </message>
    <message>
        <source>&amp;History…</source>
        <translation>&amp;Verlauf…</translation>
    </message>
    <message>
        <source>Every version of the presets that was replaced or deleted (Ctrl+H)</source>
        <translation>Jede ersetzte oder gelöschte Version der Presets (Strg+H)</translation>
    </message>
    <message>
        <source>&amp;Compare</source>
        <translation>&amp;Vergleichen</translation>
    </message>
    <message>
        <source>Every preset of every source in one grid: the same, different or missing (Ctrl+D)</source>
        <translation>Jedes Preset jeder Quelle in einer Tabelle: gleich, verschieden oder fehlend (Strg+D)</translation>
    </message>
    <message>
        <source>Compare &amp;Presets</source>
        <translation>&amp;Presets vergleichen</translation>
    </message>
    <message>
        <source>Show how two chosen presets differ (Ctrl+Shift+D)</source>
        <translation>Zeigen, wie sich zwei gewählte Presets unterscheiden (Strg+Umschalt+D)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>&amp;Undo Copy</source>
        <translation>Kopieren &amp;rückgängig</translation>
    </message>
    <message>
        <source>&amp;Undo Sync</source>
        <translation>Abgleich &amp;rückgängig</translation>
    </message>
    <message>
        <source>&amp;Undo Delete</source>
        <translation>Löschen &amp;rückgängig</translation>
    </message>
    <message>
        <source>&amp;Undo Restore</source>
        <translation>Wiederherstellen &amp;rückgängig</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Zelto Presets %1&lt;/h3&gt;&lt;p&gt;Keeps the presets of networked in-ear monitor mixers and a folder on this computer in sync. Copy presets between mixers and the folder by dragging them onto a source.&lt;/p&gt;&lt;p&gt;Free software under the %2 licence.&lt;/p&gt;&lt;p&gt;&lt;a href=&quot;%3&quot;&gt;Read the README&lt;/a&gt; for how to use it and its command-line tools.&lt;/p&gt;&lt;p&gt;Built with Qt %4.&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Zelto Presets %1&lt;/h3&gt;&lt;p&gt;Hält die Presets vernetzter In-Ear-Monitor-Mischpulte und einen Ordner auf diesem Computer abgeglichen. Kopieren Sie Presets zwischen Mischpulten und dem Ordner, indem Sie sie auf eine Quelle ziehen.&lt;/p&gt;&lt;p&gt;Freie Software unter der Lizenz %2.&lt;/p&gt;&lt;p&gt;&lt;a href=&quot;%3&quot;&gt;Lesen Sie die README&lt;/a&gt;, um zu erfahren, wie es und seine Kommandozeilenwerkzeuge benutzt werden.&lt;/p&gt;&lt;p&gt;Erstellt mit Qt %4.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>zelto::ui::PresetDiffWindow</name>
    <message>
        <source>Compare Presets</source>
        <translation>Presets vergleichen</translation>
    </message>
    <message>
        <source>Show all</source>
        <translation>Alle zeigen</translation>
    </message>
    <message>
        <source>Show the settings that are the same too</source>
        <translation>Auch die gleichen Einstellungen zeigen</translation>
    </message>
    <message>
        <source>Differences</source>
        <translation>Unterschiede</translation>
    </message>
    <message>
        <source>Sync folder</source>
        <translation>Sync-Ordner</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>Reading the presets…</source>
        <translation>Presets werden gelesen…</translation>
    </message>
    <message>
        <source>%1 could not be read: %2</source>
        <translation>%1 konnte nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>The two presets hold the same settings.</source>
        <translation>Die beiden Presets haben dieselben Einstellungen.</translation>
    </message>
    <message numerus="yes">
        <source>%n settings differ.</source>
        <translation>
            <numerusform>%n Einstellung unterscheidet sich.</numerusform>
            <numerusform>%n Einstellungen unterscheiden sich.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zelto::ui::SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Sync folder</source>
        <translation>Sync-Ordner</translation>
    </message>
    <message>
        <source>Default folder</source>
        <translation>Standardordner</translation>
    </message>
    <message>
        <source>Custom folder</source>
        <translation>Eigener Ordner</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>Auswählen…</translation>
    </message>
    <message>
        <source>Every preset is kept here as one file. Sync all makes this folder and every mixer hold the same presets.</source>
        <translation>Jedes Preset liegt hier als eigene Datei. „Alle synchronisieren“ bringt diesen Ordner und alle Mischpulte auf denselben Preset-Stand.</translation>
    </message>
    <message>
        <source>Mixers by address</source>
        <translation>Mischpulte nach Adresse</translation>
    </message>
    <message>
        <source>IPv4 address, e.g. 192.168.1.20</source>
        <translation>IPv4-Adresse, z. B. 192.168.1.20</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Asked directly on every network scan, for networks where a broadcast does not reach the mixers.</source>
        <translation>Werden bei jeder Netzwerksuche direkt angefragt – für Netzwerke, in denen ein Broadcast die Mischpulte nicht erreicht.</translation>
    </message>
    <message>
        <source>Keeping presets safe</source>
        <translation>Presets sichern</translation>
    </message>
    <message>
        <source>Verify sent presets</source>
        <translation>Gesendete Presets prüfen</translation>
    </message>
    <message>
        <source>Read every preset sent to a mixer back and compare it with what was sent</source>
        <translation>Jedes an ein Mischpult gesendete Preset zurücklesen und mit dem Gesendeten vergleichen</translation>
    </message>
    <message>
        <source>Show what Sync All will do first</source>
        <translation>Zuerst zeigen, was „Alle synchronisieren“ tun wird</translation>
    </message>
    <message>
        <source>Before Sync All starts, list what it will fetch and send, with Sync and Cancel</source>
        <translation>Bevor „Alle synchronisieren“ beginnt, auflisten, was geholt und gesendet wird, mit „Synchronisieren“ und „Abbrechen“</translation>
    </message>
    <message>
        <source> per preset</source>
        <translation> je Preset</translation>
    </message>
    <message>
        <source> MiB</source>
        <translation> MiB</translation>
    </message>
    <message>
        <source>Versions kept:</source>
        <translation>Aufbewahrte Versionen:</translation>
    </message>
    <message>
        <source>History size at most:</source>
        <translation>Größe des Verlaufs höchstens:</translation>
    </message>
    <message>
        <source>Every preset that is replaced or deleted is kept in the history of the sync folder, oldest versions going first. A deleted preset stays at least 30 days.</source>
        <translation>Jedes ersetzte oder gelöschte Preset wird im Verlauf des Sync-Ordners aufbewahrt; die ältesten Versionen gehen zuerst. Ein gelöschtes Preset bleibt mindestens 30 Tage.</translation>
    </message>
</context>
<context>
    <name>zelto::ui::StatusSheet</name>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Working…</source>
        <translation>Wird ausgeführt…</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Wird abgebrochen…</translation>
    </message>
    <message numerus="yes">
        <source>Finished with %n errors</source>
        <translation>
            <numerusform>Beendet mit %n Fehler</numerusform>
            <numerusform>Beendet mit %n Fehlern</numerusform>
        </translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>Beendet</translation>
    </message>
    <message>
        <source>No transfers</source>
        <translation>Keine Übertragungen</translation>
    </message>
    <message>
        <source>%1 of %2 transfers</source>
        <translation>%1 von %2 Übertragungen</translation>
    </message>
</context>
<context>
    <name>zelto::ui::SyncPreviewDialog</name>
    <message>
        <source>Sync All</source>
        <translation>Alle synchronisieren</translation>
    </message>
    <message>
        <source>What Sync All will do</source>
        <translation>Was „Alle synchronisieren“ tun wird</translation>
    </message>
    <message>
        <source>Sync</source>
        <translation>Synchronisieren</translation>
    </message>
    <message>
        <source>Into the sync folder, from %1 (%2)</source>
        <translation>In den Sync-Ordner, von %1 (%2)</translation>
    </message>
    <message>
        <source>To %1 (%2)</source>
        <translation>Nach %1 (%2)</translation>
    </message>
    <message>
        <source>Left as they are, though their contents differ (%1)</source>
        <translation>Bleiben, wie sie sind, obwohl ihr Inhalt abweicht (%1)</translation>
    </message>
    <message>
        <source>The folder and the mixers already hold the same names: Sync All has nothing to fetch or send.</source>
        <translation>Ordner und Mischpulte haben bereits dieselben Namen: „Alle synchronisieren“ muss nichts holen oder senden.</translation>
    </message>
    <message>
        <source>Sync All will fetch %1 presets into the sync folder and send %2 to the mixers.</source>
        <translation>„Alle synchronisieren“ holt %1 Presets in den Sync-Ordner und sendet %2 an die Mischpulte.</translation>
    </message>
</context>
</TS>
