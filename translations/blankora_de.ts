<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CommandLine</name>
    <message>
        <source>%1: %2
Try &apos;%1 --help&apos; for more information.
</source>
        <translation>%1: %2
„%1 --help“ zeigt, was möglich ist.
</translation>
    </message>
    <message>
        <source>Erases a rewritable optical disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM, BD-RE) step by step. Started without options, it opens its wizard.</source>
        <translation>Löscht eine wiederbeschreibbare optische Disc (CD-RW, DVD-RW, DVD+RW, DVD-RAM, BD-RE) Schritt für Schritt. Ohne Optionen gestartet, öffnet es seinen Assistenten.</translation>
    </message>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation>Unerwartetes Argument „%1“.</translation>
    </message>
    <message>
        <source>Handled by Qt.</source>
        <translation>Wird von Qt ausgewertet.</translation>
    </message>
</context>
<context>
    <name>DesktopNotify</name>
    <message>
        <source>Disc erased</source>
        <translation>Disc gelöscht</translation>
    </message>
    <message>
        <source>The disc in %1 has been erased.</source>
        <translation>Die Disc in %1 wurde gelöscht.</translation>
    </message>
    <message>
        <source>Erase cancelled</source>
        <translation>Löschen abgebrochen</translation>
    </message>
    <message>
        <source>Erasing the disc in %1 was cancelled.</source>
        <translation>Das Löschen der Disc in %1 wurde abgebrochen.</translation>
    </message>
    <message>
        <source>Erase failed</source>
        <translation>Löschen fehlgeschlagen</translation>
    </message>
    <message>
        <source>Erasing the disc in %1 failed.</source>
        <translation>Das Löschen der Disc in %1 ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Erasing the disc in %1 failed: %2</source>
        <translation>Das Löschen der Disc in %1 ist fehlgeschlagen: %2</translation>
    </message>
</context>
<context>
    <name>DiscType</name>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>CD-ROM</source>
        <translation>CD-ROM</translation>
    </message>
    <message>
        <source>CD-R</source>
        <translation>CD-R</translation>
    </message>
    <message>
        <source>CD-RW</source>
        <translation>CD-RW</translation>
    </message>
    <message>
        <source>DVD-ROM</source>
        <translation>DVD-ROM</translation>
    </message>
    <message>
        <source>DVD-R</source>
        <translation>DVD-R</translation>
    </message>
    <message>
        <source>DVD-RAM</source>
        <translation>DVD-RAM</translation>
    </message>
    <message>
        <source>DVD-RW RO (Restricted Overwrite)</source>
        <translation>DVD-RW RO (eingeschränktes Überschreiben)</translation>
    </message>
    <message>
        <source>DVD-RW SR (Sequential Recording)</source>
        <translation>DVD-RW SR (sequenzielle Aufzeichnung)</translation>
    </message>
    <message>
        <source>DVD+RW</source>
        <translation>DVD+RW</translation>
    </message>
    <message>
        <source>DD (Double Density) CD-ROM</source>
        <translation>DD-CD-ROM (doppelte Dichte)</translation>
    </message>
    <message>
        <source>DD (Double Density) CD-R</source>
        <translation>DD-CD-R (doppelte Dichte)</translation>
    </message>
    <message>
        <source>DD (Double Density) CD-RW</source>
        <translation>DD-CD-RW (doppelte Dichte)</translation>
    </message>
    <message>
        <source>DVD+R</source>
        <translation>DVD+R</translation>
    </message>
    <message>
        <source>BD-R</source>
        <translation>BD-R</translation>
    </message>
    <message>
        <source>BD-RE</source>
        <translation>BD-RE</translation>
    </message>
    <message>
        <source>Empty</source>
        <translation>Leer</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>Unmount</source>
        <translation>Aushängen</translation>
    </message>
    <message>
        <source>The disc could not be unmounted: %1</source>
        <translation>Die Disc konnte nicht ausgehängt werden: %1</translation>
    </message>
</context>
<context>
    <name>Mmc</name>
    <message>
        <source>The drive reported no current write speed.</source>
        <translation>Das Laufwerk meldet keine aktuelle Schreibgeschwindigkeit.</translation>
    </message>
    <message>
        <source>Buffer of %1 bytes does not hold %2 blocks.</source>
        <translation>Ein Puffer von %1 Bytes fasst keine %2 Blöcke.</translation>
    </message>
    <message>
        <source>READ(10) transferred %1 of %2 bytes.</source>
        <translation>READ(10) hat %1 von %2 Bytes übertragen.</translation>
    </message>
    <message>
        <source>Erasing was cancelled. The drive may go on until the current operation ends; wait until it is ready before using the disc.</source>
        <translation>Das Löschen wurde abgebrochen. Das Laufwerk arbeitet womöglich weiter, bis der laufende Vorgang endet; warten Sie, bis es bereit ist, bevor Sie die Disc verwenden.</translation>
    </message>
    <message>
        <source>The disc was removed or the tray was opened while it was being erased.</source>
        <translation>Die Disc wurde während des Löschens entnommen oder die Lade wurde geöffnet.</translation>
    </message>
    <message>
        <source>There is no disc in the drive.</source>
        <translation>Im Laufwerk liegt keine Disc.</translation>
    </message>
    <message>
        <source>This disc (%1) cannot be erased: it is not a rewritable disc. Insert a CD-RW, DVD-RW, DVD+RW, DVD-RAM or BD-RE.</source>
        <translation>Diese Disc (%1) kann nicht gelöscht werden: Sie ist nicht wiederbeschreibbar. Legen Sie eine CD-RW, DVD-RW, DVD+RW, DVD-RAM oder BD-RE ein.</translation>
    </message>
    <message>
        <source>The drive&apos;s %1 answer is too short (%2 bytes, %3 needed).</source>
        <translation>Die Antwort des Laufwerks auf %1 ist zu kurz (%2 Bytes, %3 nötig).</translation>
    </message>
    <message>
        <source>The drive&apos;s %1 answer is malformed: %2.</source>
        <translation>Die Antwort des Laufwerks auf %1 ist fehlerhaft: %2.</translation>
    </message>
    <message>
        <source>the data length is too small</source>
        <translation>die Datenlänge ist zu klein</translation>
    </message>
    <message>
        <source>The drive returned no sense data.</source>
        <translation>Das Laufwerk hat keine Sense-Daten geliefert.</translation>
    </message>
    <message>
        <source>Unknown sense data format %1h.</source>
        <translation>Unbekanntes Format der Sense-Daten %1h.</translation>
    </message>
    <message>
        <source>the capacity list length is not a multiple of 8</source>
        <translation>die Länge der Kapazitätsliste ist kein Vielfaches von 8</translation>
    </message>
    <message>
        <source>the descriptor type is 0</source>
        <translation>der Deskriptortyp ist 0</translation>
    </message>
    <message>
        <source>it holds no primary volume descriptor</source>
        <translation>sie enthält keinen primären Volumendeskriptor</translation>
    </message>
    <message>
        <source>its size fields disagree</source>
        <translation>ihre Größenfelder widersprechen sich</translation>
    </message>
    <message>
        <source>it does not hold page 2Ah</source>
        <translation>sie enthält die Seite 2Ah nicht</translation>
    </message>
    <message>
        <source>The drive reported no error.</source>
        <translation>Das Laufwerk meldet keinen Fehler.</translation>
    </message>
    <message>
        <source>The drive recovered from an error.</source>
        <translation>Das Laufwerk hat einen Fehler selbst behoben.</translation>
    </message>
    <message>
        <source>The drive is not ready.</source>
        <translation>Das Laufwerk ist nicht bereit.</translation>
    </message>
    <message>
        <source>The disc has a medium error.</source>
        <translation>Die Disc hat einen Medienfehler.</translation>
    </message>
    <message>
        <source>The drive reported a hardware error.</source>
        <translation>Das Laufwerk meldet einen Hardwarefehler.</translation>
    </message>
    <message>
        <source>The drive rejected the request.</source>
        <translation>Das Laufwerk hat die Anforderung abgelehnt.</translation>
    </message>
    <message>
        <source>The drive reported a change (disc or reset); try again.</source>
        <translation>Das Laufwerk meldet eine Änderung (Disc oder Zurücksetzen); versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The disc is write-protected.</source>
        <translation>Die Disc ist schreibgeschützt.</translation>
    </message>
    <message>
        <source>The drive aborted the command; try again.</source>
        <translation>Das Laufwerk hat den Befehl abgebrochen; versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The drive reported an error.</source>
        <translation>Das Laufwerk meldet einen Fehler.</translation>
    </message>
    <message>
        <source>The drive is busy.</source>
        <translation>Das Laufwerk ist beschäftigt.</translation>
    </message>
    <message>
        <source>Write error: the disc may be damaged or incompatible.</source>
        <translation>Schreibfehler: Die Disc ist womöglich beschädigt oder nicht geeignet.</translation>
    </message>
    <message>
        <source>Formatting failed.</source>
        <translation>Das Formatieren ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Erasing failed.</source>
        <translation>Das Löschen ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>The disc has reached its power-calibration limit.</source>
        <translation>Die Disc hat die Grenze ihrer Leistungskalibrierung erreicht.</translation>
    </message>
    <message>
        <source>The drive does not support this operation.</source>
        <translation>Das Laufwerk unterstützt diesen Vorgang nicht.</translation>
    </message>
    <message>
        <source>The drive rejected the format parameters.</source>
        <translation>Das Laufwerk hat die Formatierungsparameter abgelehnt.</translation>
    </message>
    <message>
        <source>The drive is not in a state to do this.</source>
        <translation>Das Laufwerk ist dafür nicht im richtigen Zustand.</translation>
    </message>
    <message>
        <source>This disc cannot be erased in this drive.</source>
        <translation>Diese Disc kann in diesem Laufwerk nicht gelöscht werden.</translation>
    </message>
    <message>
        <source>The tray is locked.</source>
        <translation>Die Lade ist verriegelt.</translation>
    </message>
    <message>
        <source>The tray is locked while the disc is being erased.</source>
        <translation>Die Lade ist verriegelt, während die Disc gelöscht wird.</translation>
    </message>
    <message>
        <source>The drive is busy (SCSI status %1h); try again.</source>
        <translation>Das Laufwerk ist beschäftigt (SCSI-Status %1h); versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>The command did not reach the drive.</source>
        <translation>Der Befehl hat das Laufwerk nicht erreicht.</translation>
    </message>
    <message>
        <source>The drive still reported the erase in progress after %1 minutes, three times what the whole disc needs at the slowest speed; it may still be working. Leave the disc in the drive until the drive is ready, then check the disc.</source>
        <translation>Das Laufwerk meldete das Löschen nach %1 Minuten noch immer als laufend, dreimal so lange, wie die ganze Disc bei der langsamsten Geschwindigkeit braucht; es arbeitet möglicherweise noch. Lassen Sie die Disc im Laufwerk, bis das Laufwerk bereit ist, und prüfen Sie dann die Disc.</translation>
    </message>
    <message>
        <source>The drive %1 disappeared while the disc was being erased (%2). Connect it again and check the disc: it may be erased only in part.</source>
        <translation>Das Laufwerk %1 ist verschwunden, während die Disc gelöscht wurde (%2). Schließen Sie es wieder an und prüfen Sie die Disc: Sie ist möglicherweise nur zum Teil gelöscht.</translation>
    </message>
    <message>
        <source>The drive gave no sensible answer for %1 seconds: %2</source>
        <translation>Das Laufwerk hat %1 Sekunden lang keine sinnvolle Antwort gegeben: %2</translation>
    </message>
    <message>
        <source>The drive reported success, but the disc is not erased: %1</source>
        <translation>Das Laufwerk hat Erfolg gemeldet, aber die Disc ist nicht gelöscht: %1</translation>
    </message>
    <message>
        <source>the disc could not be read again (%1).</source>
        <translation>die Disc konnte nicht erneut gelesen werden (%1).</translation>
    </message>
    <message>
        <source>block %1 does not read back as zeros.</source>
        <translation>Block %1 liest sich nicht als Nullen zurück.</translation>
    </message>
    <message>
        <source>the disc is not formatted.</source>
        <translation>die Disc ist nicht formatiert.</translation>
    </message>
    <message>
        <source>READ DISC INFORMATION shows the disc as not blank (disc status %1).</source>
        <translation>READ DISC INFORMATION zeigt die Disc als nicht leer (Disc-Status %1).</translation>
    </message>
    <message>
        <source>The drive did not answer in time; it may be busy or hung. Wait, then try again.</source>
        <translation>Das Laufwerk hat nicht rechtzeitig geantwortet; es ist möglicherweise beschäftigt oder hängt. Warten Sie und versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>The drive could not load or eject the disc.</source>
        <translation>Das Laufwerk konnte die Disc nicht laden oder auswerfen.</translation>
    </message>
    <message>
        <source>READ DISC INFORMATION shows the disc&apos;s format stopped half-way (background format status %1).</source>
        <translation>READ DISC INFORMATION zeigt die Formatierung der Disc auf halbem Weg angehalten (Status der Hintergrundformatierung %1).</translation>
    </message>
</context>
<context>
    <name>Pictures</name>
    <message>
        <source>Cannot open file &quot;%1&quot;. %2</source>
        <translation>Die Datei „%1“ kann nicht geöffnet werden. %2</translation>
    </message>
    <message>
        <source>Cannot read picture &quot;%1&quot;. Bitmap image is not valid</source>
        <translation>Das Bild „%1“ kann nicht gelesen werden. Die Bitmap ist ungültig</translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>Blankora Wizard</source>
        <translation>Blankora-Assistent</translation>
    </message>
    <message>
        <source>#TopPanel { background-color: white; }</source>
        <translation>#TopPanel { background-color: white; }</translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation>&lt; &amp;Zurück</translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation>&amp;Weiter &gt;</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Welcome to Blankora Wizard</source>
        <translation>Willkommen beim Blankora-Assistenten</translation>
    </message>
    <message>
        <source>Completing the Blankora Wizard</source>
        <translation>Fertigstellen des Blankora-Assistenten</translation>
    </message>
    <message>
        <source>SCSI Transport</source>
        <translation>SCSI-Transport</translation>
    </message>
    <message>
        <source>The SCSI transport is a method to access devices</source>
        <translation>Der SCSI-Transport ist die Art, auf Geräte zuzugreifen</translation>
    </message>
    <message>
        <source>Erasing</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Erasing CD/DVD disc...</source>
        <translation>CD/DVD wird gelöscht ...</translation>
    </message>
    <message>
        <source>Device Selection</source>
        <translation>Geräteauswahl</translation>
    </message>
    <message>
        <source>CD or DVD burning device to use for disc erasing.</source>
        <translation>CD- oder DVD-Brenner, mit dem die Disc gelöscht wird.</translation>
    </message>
    <message>
        <source>Erasing options</source>
        <translation>Löschoptionen</translation>
    </message>
    <message>
        <source>You can choose various erasing options.</source>
        <translation>Sie können verschiedene Löschoptionen wählen.</translation>
    </message>
    <message>
        <source>Options Summary</source>
        <translation>Zusammenfassung</translation>
    </message>
    <message>
        <source>Review the options you have chosen before proceed with erasing.</source>
        <translation>Prüfen Sie die gewählten Optionen, bevor das Löschen beginnt.</translation>
    </message>
    <message>
        <source>You must select device that is supports burning CD/DVD</source>
        <translation>Wählen Sie ein Gerät, das CDs/DVDs brennen kann</translation>
    </message>
    <message>
        <source>No writable disc is inserted</source>
        <translation>Es ist keine beschreibbare Disc eingelegt</translation>
    </message>
    <message>
        <source>Erasing Disc</source>
        <translation>Disc wird gelöscht</translation>
    </message>
    <message>
        <source>Erasing Log:</source>
        <translation>Löschprotokoll:</translation>
    </message>
    <message>
        <source>Click Save Log to save Erasing Log text to a file.</source>
        <translation>Klicken Sie auf „Protokoll speichern“, um das Löschprotokoll in einer Datei zu speichern.</translation>
    </message>
    <message>
        <source>Blankora Wizard is scanning your system for CD and DVD devices.</source>
        <translation>Der Blankora-Assistent sucht CD- und DVD-Geräte in Ihrem System.</translation>
    </message>
    <message>
        <source>You have successfully completed the Disc Erasing Wizard</source>
        <translation>Sie haben den Assistenten zum Löschen von Discs erfolgreich abgeschlossen</translation>
    </message>
    <message>
        <source>Disc erasing was cancelled by user!</source>
        <translation>Das Löschen der Disc wurde vom Benutzer abgebrochen!</translation>
    </message>
    <message>
        <source>Blankora Wizard has finished with error</source>
        <translation>Der Blankora-Assistent wurde mit einem Fehler beendet</translation>
    </message>
    <message>
        <source>The drive %1 that you chose is no longer available. Check that it is connected, click Refresh and choose a drive again</source>
        <translation>Das gewählte Laufwerk %1 ist nicht mehr verfügbar. Prüfen Sie, ob es angeschlossen ist, klicken Sie auf „Aktualisieren“ und wählen Sie erneut ein Laufwerk</translation>
    </message>
    <message>
        <source>The drive %1 could not be opened for erasing (%2). Check that it is connected, click Refresh and choose a drive again</source>
        <translation>Das Laufwerk %1 konnte nicht zum Löschen geöffnet werden (%2). Prüfen Sie, ob es angeschlossen ist, klicken Sie auf „Aktualisieren“ und wählen Sie erneut ein Laufwerk</translation>
    </message>
    <message>
        <source>The disc in the drive %1 is mounted at %2, so it cannot be erased. Unmount it (for example with the eject button of your file manager, or with the command umount &quot;%2&quot;), then click Next again</source>
        <translation>Die Disc im Laufwerk %1 ist unter %2 eingehängt und kann daher nicht gelöscht werden. Hängen Sie sie aus (zum Beispiel mit der Auswerfen-Schaltfläche Ihres Dateimanagers oder mit dem Befehl umount &quot;%2&quot;) und klicken Sie dann erneut auf „Weiter“</translation>
    </message>
    <message>
        <source>The drive %1 can be read but not written by your user, so its disc cannot be erased. On Linux, optical drives belong to the group &quot;cdrom&quot;: add yourself to it with the command sudo adduser $USER cdrom, then log out and log in again</source>
        <translation>Ihr Benutzer kann das Laufwerk %1 lesen, aber nicht beschreiben; seine Disc kann daher nicht gelöscht werden. Unter Linux gehören optische Laufwerke zur Gruppe &quot;cdrom&quot;: Fügen Sie sich ihr mit dem Befehl sudo adduser $USER cdrom hinzu, melden Sie sich dann ab und wieder an</translation>
    </message>
</context>
<context>
    <name>TSelectTransportForm</name>
    <message>
        <source>Select SCSI transport you want to use for device access:</source>
        <translation>Wählen Sie den SCSI-Transport für den Gerätezugriff:</translation>
    </message>
    <message>
        <source>SPTI - SCSI Pass Through Interface</source>
        <translation>SPTI - SCSI Pass Through Interface</translation>
    </message>
    <message>
        <source>ASPI - Advanced SCSI Programming Interface</source>
        <translation>ASPI - Advanced SCSI Programming Interface</translation>
    </message>
    <message>
        <source>Each drive is opened through its block device node, /dev/srN, and the commands go to it through the kernel&apos;s SCSI pass-through (SG_IO). This is the usual choice on Linux.</source>
        <translation>Jedes Laufwerk wird über seinen Blockgeräteknoten /dev/srN geöffnet, und die Befehle erreichen es über die SCSI-Durchreichung des Kernels (SG_IO). Das ist unter Linux die übliche Wahl.</translation>
    </message>
    <message>
        <source>Drives are found by their SCSI address (host, channel, target, LUN) through sysfs and opened by that address.</source>
        <translation>Laufwerke werden über sysfs anhand ihrer SCSI-Adresse (Host, Kanal, Ziel, LUN) gefunden und über diese Adresse geöffnet.</translation>
    </message>
</context>
<context>
    <name>TfrmEraseDisc</name>
    <message>
        <source>Select erase type. Full erase takes much longer than fast erase. Fast erase is preferred in most situations.</source>
        <translation>Wählen Sie die Löschart. Vollständiges Löschen dauert viel länger als schnelles Löschen. Meist ist schnelles Löschen vorzuziehen.</translation>
    </message>
    <message>
        <source>Fast erase (only TOC will be erased)</source>
        <translation>Schnelles Löschen (nur das Inhaltsverzeichnis wird gelöscht)</translation>
    </message>
    <message>
        <source>Full erase (whole disc will be erased)</source>
        <translation>Vollständiges Löschen (die ganze Disc wird gelöscht)</translation>
    </message>
    <message>
        <source>Optimal burning speed depends on the disc used and burning device capabilities. Poorly chosen burning speed may result in coaster disc. To determine the best burning speed you can make test burns or consult your device and disc manufacturers.</source>
        <translation>Die beste Geschwindigkeit hängt von der Disc und den Fähigkeiten des Brenners ab. Eine schlecht gewählte Geschwindigkeit kann die Disc unbrauchbar machen. Die beste Geschwindigkeit finden Sie durch Testbrände oder bei den Herstellern von Gerät und Disc.</translation>
    </message>
    <message>
        <source>Erasing speed:</source>
        <translation>Löschgeschwindigkeit:</translation>
    </message>
    <message>
        <source>Warning! All existing data will be lost after erasing</source>
        <translation>Achtung! Alle vorhandenen Daten gehen beim Löschen verloren</translation>
    </message>
    <message>
        <source>The drive reported no erasing speed for this disc. Check the disc and try again.</source>
        <translation>Das Laufwerk meldet für diese Disc keine Löschgeschwindigkeit. Prüfen Sie die Disc und versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>TfrmFinalAction</name>
    <message>
        <source>Buffer status:</source>
        <translation>Pufferfüllstand:</translation>
    </message>
    <message>
        <source>Burning log:</source>
        <translation>Brennprotokoll:</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Click Save Log to save Burning Log text to a file.</source>
        <translation>Klicken Sie auf „Protokoll speichern“, um das Brennprotokoll in einer Datei zu speichern.</translation>
    </message>
    <message>
        <source>Save &amp;Log ...</source>
        <translation>&amp;Protokoll speichern ...</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>Textdateien (*.txt)</translation>
    </message>
    <message>
        <source>Cannot replace the file %1. Check that you may write to it and to its folder, or choose another name.</source>
        <translation>Die Datei %1 kann nicht ersetzt werden. Prüfen Sie, ob Sie die Datei und ihren Ordner beschreiben dürfen, oder wählen Sie einen anderen Namen.</translation>
    </message>
    <message>
        <source>The operation failed unexpectedly.</source>
        <translation>Der Vorgang ist unerwartet fehlgeschlagen.</translation>
    </message>
</context>
<context>
    <name>TfrmFinish</name>
    <message>
        <source>Blankora Wizard</source>
        <translation>Blankora-Assistent</translation>
    </message>
    <message>
        <source>#WhitePanel { background-color: white; }</source>
        <translation>#WhitePanel { background-color: white; }</translation>
    </message>
    <message>
        <source>Completing the Blankora Wizard</source>
        <translation>Fertigstellen des Blankora-Assistenten</translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation>&lt; &amp;Zurück</translation>
    </message>
    <message>
        <source>&amp;Finish</source>
        <translation>&amp;Fertigstellen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>TfrmOperationProgress</name>
    <message>
        <source>Cancelling...</source>
        <translation>Wird abgebrochen ...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>TfrmOptionsSummary</name>
    <message>
        <source>Disc will be erased with the following options chosen:</source>
        <translation>Die Disc wird mit diesen Optionen gelöscht:</translation>
    </message>
    <message>
        <source>Click Next to begin disc erasing.</source>
        <translation>Klicken Sie auf „Weiter“, um das Löschen zu beginnen.</translation>
    </message>
    <message>
        <source>Drive: %1 %2 (%3)</source>
        <translation>Laufwerk: %1 %2 (%3)</translation>
    </message>
    <message>
        <source>Transport: ASPI</source>
        <translation>Transport: ASPI</translation>
    </message>
    <message>
        <source>Transport: SPTI</source>
        <translation>Transport: SPTI</translation>
    </message>
    <message>
        <source>Disc Type: %1</source>
        <translation>Disc-Typ: %1</translation>
    </message>
    <message>
        <source>Erase Type: %1</source>
        <translation>Löschart: %1</translation>
    </message>
    <message>
        <source>Full</source>
        <translation>Vollständig</translation>
    </message>
    <message>
        <source>Fast</source>
        <translation>Schnell</translation>
    </message>
    <message>
        <source>Erasing Speed: %1</source>
        <translation>Löschgeschwindigkeit: %1</translation>
    </message>
    <message>
        <source>Eject: %1</source>
        <translation>Auswerfen: %1</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
</context>
<context>
    <name>TfrmSelectDevice</name>
    <message>
        <source>Select CD or DVD burning device from the list</source>
        <translation>Wählen Sie einen CD- oder DVD-Brenner aus der Liste</translation>
    </message>
    <message>
        <source>Product</source>
        <translation>Produkt</translation>
    </message>
    <message>
        <source>Vendor</source>
        <translation>Hersteller</translation>
    </message>
    <message>
        <source>Revision</source>
        <translation>Revision</translation>
    </message>
    <message>
        <source>Media </source>
        <translation>Medium </translation>
    </message>
    <message>
        <source>Size, MB</source>
        <translation>Größe, MB</translation>
    </message>
    <message>
        <source>Label</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>If you have plugged in new devices or changed disc in a drive click Refresh to update devices list</source>
        <translation>Wenn Sie neue Geräte angeschlossen oder eine Disc gewechselt haben, klicken Sie auf „Aktualisieren“, um die Geräteliste neu zu laden</translation>
    </message>
    <message>
        <source>Refresh...</source>
        <translation>Aktualisieren ...</translation>
    </message>
    <message>
        <source>Blank</source>
        <translation>Leer</translation>
    </message>
    <message>
        <source>Destination device</source>
        <translation>Zielgerät</translation>
    </message>
    <message>
        <source>No access</source>
        <translation>Kein Zugriff</translation>
    </message>
    <message>
        <source>In use</source>
        <translation>In Benutzung</translation>
    </message>
    <message>
        <source>Tray open</source>
        <translation>Schublade offen</translation>
    </message>
    <message>
        <source>Not ready</source>
        <translation>Nicht bereit</translation>
    </message>
    <message>
        <source>You have no access to the drive %1: its device node refuses your user. On Linux, optical drives belong to the group &quot;cdrom&quot;: add yourself to it with the command sudo adduser $USER cdrom, then log out and log in again</source>
        <translation>Sie haben keinen Zugriff auf das Laufwerk %1: Sein Geräteknoten weist Ihren Benutzer ab. Unter Linux gehören optische Laufwerke zur Gruppe &quot;cdrom&quot;: Fügen Sie sich ihr mit dem Befehl sudo adduser $USER cdrom hinzu, melden Sie sich dann ab und wieder an</translation>
    </message>
    <message>
        <source>The drive %1 is in use by another program. Close that program or unmount its disc, then click Refresh</source>
        <translation>Das Laufwerk %1 wird von einem anderen Programm benutzt. Schließen Sie dieses Programm oder hängen Sie seine Disc aus und klicken Sie dann auf „Aktualisieren“</translation>
    </message>
    <message>
        <source>There is no disc in the drive %1. Put in the rewritable disc you want to erase, then click Next again</source>
        <translation>Im Laufwerk %1 liegt keine Disc. Legen Sie die wiederbeschreibbare Disc ein, die Sie löschen möchten, und klicken Sie dann erneut auf „Weiter“</translation>
    </message>
    <message>
        <source>The tray of the drive %1 is open. Put in the rewritable disc you want to erase, close the tray, then click Next again</source>
        <translation>Die Schublade des Laufwerks %1 ist offen. Legen Sie die wiederbeschreibbare Disc ein, die Sie löschen möchten, schließen Sie die Schublade und klicken Sie dann erneut auf „Weiter“</translation>
    </message>
    <message>
        <source>The disc in the drive %1 did not become ready. Take it out, put it in again, wait until the drive is quiet, then click Refresh</source>
        <translation>Die Disc im Laufwerk %1 wurde nicht bereit. Nehmen Sie sie heraus, legen Sie sie wieder ein, warten Sie, bis das Laufwerk ruhig ist, und klicken Sie dann auf „Aktualisieren“</translation>
    </message>
    <message>
        <source>%1 (process %2)</source>
        <translation>%1 (Prozess %2)</translation>
    </message>
    <message>
        <source>The drive %1 is in use by %2. Close that program or unmount its disc, then click Refresh</source>
        <translation>Das Laufwerk %1 wird von %2 benutzt. Schließen Sie dieses Programm oder hängen Sie seine Disc aus und klicken Sie dann auf „Aktualisieren“</translation>
    </message>
</context>
<context>
    <name>TfrmWelcome</name>
    <message>
        <source>Blankora Wizard</source>
        <translation>Blankora-Assistent</translation>
    </message>
    <message>
        <source>#WhitePanel { background-color: white; }</source>
        <translation>#WhitePanel { background-color: white; }</translation>
    </message>
    <message>
        <source>Welcome to Blankora Wizard</source>
        <translation>Willkommen beim Blankora-Assistenten</translation>
    </message>
    <message>
        <source>This wizard will guide you through CD or DVD disc erasing process</source>
        <translation>Dieser Assistent führt Sie durch das Löschen einer CD oder DVD</translation>
    </message>
    <message>
        <source>Press &quot;Next&quot; button to proceed further</source>
        <translation>Klicken Sie auf „Weiter“, um fortzufahren</translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation>&lt; &amp;Zurück</translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation>&amp;Weiter &gt;</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>TsbAction</name>
    <message>
        <source>Invalid action</source>
        <translation>Ungültige Aktion</translation>
    </message>
    <message>
        <source>No drive is chosen for this action. Go back and choose a device.</source>
        <translation>Für diese Aktion ist kein Laufwerk gewählt. Gehen Sie zurück und wählen Sie ein Gerät.</translation>
    </message>
    <message>
        <source>Eject disc</source>
        <translation>Disc auswerfen</translation>
    </message>
    <message>
        <source>The drive %1 is no longer available: the disc was not ejected</source>
        <translation>Das Laufwerk %1 ist nicht mehr verfügbar: die Disc wurde nicht ausgeworfen</translation>
    </message>
</context>
<context>
    <name>TsbBurner</name>
    <message>
        <source>%1 failed, exception %2, status %3, text &quot;%4&quot;</source>
        <translation>%1 fehlgeschlagen, Ausnahme %2, Status %3, Text „%4“</translation>
    </message>
    <message>
        <source>StarBurn : Invalid %1 version : 0x%2. Expected : 0x%3</source>
        <translation>StarBurn: Ungültige Version von %1: 0x%2. Erwartet: 0x%3</translation>
    </message>
    <message>
        <source>The erase could not be started: %1</source>
        <translation>Das Löschen konnte nicht gestartet werden: %1</translation>
    </message>
</context>
<context>
    <name>TsbCustomThread</name>
    <message>
        <source>The operation failed unexpectedly.</source>
        <translation>Der Vorgang ist unerwartet fehlgeschlagen.</translation>
    </message>
</context>
<context>
    <name>TsbDeviceFinder</name>
    <message>
        <source>Scanning devices</source>
        <translation>Geräte werden gesucht</translation>
    </message>
    <message>
        <source>Waiting up to 20 seconds for the disc in %1 to become ready.</source>
        <translation>Bis zu 20 Sekunden wird gewartet, bis die Disc in %1 bereit ist.</translation>
    </message>
    <message>
        <source>The device scan could not be started: %1</source>
        <translation>Die Gerätesuche konnte nicht gestartet werden: %1</translation>
    </message>
</context>
<context>
    <name>TsbDiscSpeedList</name>
    <message>
        <source>%1.0x (%2 KB/sec)</source>
        <translation>%1,0x (%2 KB/s)</translation>
    </message>
    <message>
        <source>No drive is open. Go back and choose a device.</source>
        <translation>Kein Laufwerk ist geöffnet. Gehen Sie zurück und wählen Sie ein Gerät.</translation>
    </message>
    <message>
        <source>The drive chooses its own speed</source>
        <translation>Das Laufwerk wählt seine Geschwindigkeit selbst</translation>
    </message>
</context>
<context>
    <name>TsbEraseAction</name>
    <message>
        <source>No drive is chosen for this action. Go back and choose a device.</source>
        <translation>Für diese Aktion ist kein Laufwerk gewählt. Gehen Sie zurück und wählen Sie ein Gerät.</translation>
    </message>
    <message>
        <source>Erase started</source>
        <translation>Löschen begonnen</translation>
    </message>
    <message>
        <source>Erase speed</source>
        <translation>Löschgeschwindigkeit</translation>
    </message>
    <message>
        <source>: %1.0x</source>
        <translation>: %1,0x</translation>
    </message>
    <message>
        <source>Erase completed</source>
        <translation>Löschen abgeschlossen</translation>
    </message>
    <message>
        <source>The disc in drive %1 was changed after you chose it: nothing was erased. Put in the disc you want to erase, go back to the device selection and choose the drive again</source>
        <translation>Die Disc in Laufwerk %1 wurde nach Ihrer Auswahl gewechselt: Es wurde nichts gelöscht. Legen Sie die Disc ein, die Sie löschen möchten, gehen Sie zurück zur Laufwerksauswahl und wählen Sie das Laufwerk erneut</translation>
    </message>
    <message>
        <source>The drive %1 is now %2 %3, not the drive %4 %5 that you chose: nothing was erased. Go back to the device selection and choose the drive again</source>
        <translation>Das Laufwerk %1 ist jetzt %2 %3, nicht das von Ihnen gewählte Laufwerk %4 %5: Es wurde nichts gelöscht. Gehen Sie zurück zur Laufwerksauswahl und wählen Sie das Laufwerk erneut</translation>
    </message>
    <message>
        <source>Erasing the disc in %1</source>
        <translation>Löschen der Disc in %1</translation>
    </message>
    <message>
        <source>The computer will not sleep or shut down until the erase has ended</source>
        <translation>Der Computer wird bis zum Ende des Löschvorgangs weder in den Ruhezustand versetzt noch heruntergefahren</translation>
    </message>
    <message>
        <source>The disc was erased fast: it can now be written only in one session (disc at once). Erase it fully to write it in several sessions.</source>
        <translation>Die Disc wurde schnell gelöscht: Sie kann jetzt nur in einer Sitzung beschrieben werden (Disc at once). Löschen Sie sie vollständig, um sie in mehreren Sitzungen zu beschreiben.</translation>
    </message>
</context>
</TS>
