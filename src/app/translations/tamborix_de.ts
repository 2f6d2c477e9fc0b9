<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>Console</name>
    <message>
        <source>Commands:</source>
        <translation>Befehle:</translation>
    </message>
    <message>
        <source>open a pairing code (valid 120 s) and show its link and QR code</source>
        <translation>einen Kopplungscode öffnen (120 s gültig) und Link und QR-Code zeigen</translation>
    </message>
    <message>
        <source>close the open pairing code</source>
        <translation>den offenen Kopplungscode schließen</translation>
    </message>
    <message>
        <source>list paired devices: id scope screen name</source>
        <translation>gekoppelte Geräte auflisten: ID Umfang Bildschirm Name</translation>
    </message>
    <message>
        <source>change what a device may do</source>
        <translation>ändern, was ein Gerät darf</translation>
    </message>
    <message>
        <source>ask again before the device may see the screen</source>
        <translation>erneut fragen, bevor das Gerät den Bildschirm sehen darf</translation>
    </message>
    <message>
        <source>forget a device and end its sessions</source>
        <translation>ein Gerät vergessen und seine Sitzungen beenden</translation>
    </message>
    <message>
        <source>transports, discovery, connections, statistics, last event</source>
        <translation>Verbindungswege, Auffindbarkeit, Verbindungen, Statistik, letztes Ereignis</translation>
    </message>
    <message>
        <source>start or stop listening (remembered across restarts)</source>
        <translation>Netzwerk-Empfang starten oder beenden (bleibt nach Neustart erhalten)</translation>
    </message>
    <message>
        <source>allow or stop Bluetooth connections (remembered)</source>
        <translation>Bluetooth-Verbindungen erlauben oder beenden (bleibt erhalten)</translation>
    </message>
    <message>
        <source>tell connected phones the name of the front application</source>
        <translation>verbundenen Telefonen den Namen der aktiven App mitteilen</translation>
    </message>
    <message>
        <source>start the helper when you log in</source>
        <translation>den Helper bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>stop the helper</source>
        <translation>den Helper beenden</translation>
    </message>
    <message>
        <source>Expires in %1 · works once</source>
        <translation>Läuft ab in %1 · gilt einmal</translation>
    </message>
    <message>
        <source>This computer: %1</source>
        <translation>Dieser Computer: %1</translation>
    </message>
    <message>
        <source>Allow “%1” to control this computer?</source>
        <translation>„%1“ erlauben, diesen Computer zu steuern?</translation>
    </message>
    <message>
        <source>It will be able to move the pointer, click and type.</source>
        <translation>Das Gerät kann dann den Zeiger bewegen, klicken und tippen.</translation>
    </message>
    <message>
        <source>Device key: %1</source>
        <translation>Geräteschlüssel: %1</translation>
    </message>
    <message>
        <source>Only allow devices you own and are pairing right now.</source>
        <translation>Erlauben Sie nur eigene Geräte, die Sie gerade koppeln.</translation>
    </message>
    <message>
        <source>Allow this device? The next line you type answers: y allows, anything else denies. [y/N]</source>
        <translation>Dieses Gerät erlauben? Ihre nächste Eingabezeile antwortet: y erlaubt, alles andere lehnt ab. [y/N]</translation>
    </message>
    <message>
        <source>Allow “%1” to see your screen?</source>
        <translation>„%1“ erlauben, Ihren Bildschirm zu sehen?</translation>
    </message>
    <message>
        <source>It will see whatever is on the monitor it&apos;s showing, while Live screen is open on it. You can change this later in Tamborix Helper → Paired devices.</source>
        <translation>Das Gerät sieht alles auf dem gezeigten Monitor, solange dort „Live-Bildschirm“ geöffnet ist. Sie können das später unter Tamborix Helper → Gekoppelte Geräte ändern.</translation>
    </message>
    <message>
        <source>Allow screen viewing? The next line you type answers: y allows, anything else denies. [y/N]</source>
        <translation>Bildschirmansicht erlauben? Ihre nächste Eingabezeile antwortet: y erlaubt, alles andere lehnt ab. [y/N]</translation>
    </message>
    <message>
        <source>Allowed.</source>
        <translation>Erlaubt.</translation>
    </message>
    <message>
        <source>Denied.</source>
        <translation>Abgelehnt.</translation>
    </message>
    <message>
        <source>No answer in 60 seconds: denied.</source>
        <translation>Keine Antwort in 60 Sekunden: abgelehnt.</translation>
    </message>
    <message>
        <source>Usage: %1</source>
        <translation>Aufruf: %1</translation>
    </message>
    <message>
        <source>No paired device with id %1 (see devices)</source>
        <translation>Kein gekoppeltes Gerät mit der ID %1 (siehe devices)</translation>
    </message>
    <message>
        <source>Not saved yet: %1</source>
        <translation>Noch nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>%1 until the helper stops; saving is tried again until it works.</source>
        <translation>%1, bis der Helper endet; das Speichern wird wiederholt, bis es gelingt.</translation>
    </message>
    <message>
        <source>Pairing code: %1</source>
        <translation>Kopplungscode: %1</translation>
    </message>
    <message>
        <source>Pairing link: %1</source>
        <translation>Kopplungslink: %1</translation>
    </message>
    <message>
        <source>(the link does not fit in a QR code; type the code instead)</source>
        <translation>(der Link passt in keinen QR-Code; tippen Sie stattdessen den Code ein)</translation>
    </message>
    <message>
        <source>No paired devices.</source>
        <translation>Keine gekoppelten Geräte.</translation>
    </message>
    <message>
        <source>The scope of %1 is %2</source>
        <translation>Der Umfang von %1 ist %2</translation>
    </message>
    <message>
        <source>Scope of %1: %2</source>
        <translation>Umfang von %1: %2</translation>
    </message>
    <message>
        <source>Screen viewing of %1 is undecided</source>
        <translation>Die Bildschirmansicht von %1 ist offen</translation>
    </message>
    <message>
        <source>Screen viewing of %1: undecided</source>
        <translation>Bildschirmansicht von %1: offen</translation>
    </message>
    <message>
        <source>%1 is revoked and its sessions have ended</source>
        <translation>%1 ist entfernt und seine Sitzungen sind beendet</translation>
    </message>
    <message>
        <source>Revoked %1</source>
        <translation>%1 entfernt</translation>
    </message>
    <message>
        <source>Front-app sharing: on</source>
        <translation>Aktive App teilen: ein</translation>
    </message>
    <message>
        <source>Front-app sharing: off</source>
        <translation>Aktive App teilen: aus</translation>
    </message>
    <message>
        <source>Start at login could not be changed: %1</source>
        <translation>Start bei Anmeldung ließ sich nicht ändern: %1</translation>
    </message>
    <message>
        <source>Start at login: on</source>
        <translation>Start bei Anmeldung: ein</translation>
    </message>
    <message>
        <source>Start at login: off</source>
        <translation>Start bei Anmeldung: aus</translation>
    </message>
    <message>
        <source>Unknown command: %1 (try help)</source>
        <translation>Unbekannter Befehl: %1 (siehe help)</translation>
    </message>
</context>
<context>
    <name>ConsoleOutput</name>
    <message>
        <source>Warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>Dry run: no input is posted and no screen is captured</source>
        <translation>Probelauf: keine Eingabe wird gesendet und kein Bildschirm aufgenommen</translation>
    </message>
    <message>
        <source>Type help for the commands.</source>
        <translation>Geben Sie help ein, um die Befehle zu sehen.</translation>
    </message>
    <message>
        <source>Identity %1</source>
        <translation>Identität %1</translation>
    </message>
    <message>
        <source>Saved the paired devices to %1: the changes since the warning are kept.</source>
        <translation>Die gekoppelten Geräte sind in %1 gespeichert: die Änderungen seit der Warnung bleiben erhalten.</translation>
    </message>
    <message>
        <source>Event: %1</source>
        <translation>Ereignis: %1</translation>
    </message>
    <message>
        <source>Type pair for a new code.</source>
        <translation>Geben Sie pair für einen neuen Code ein.</translation>
    </message>
</context>
<context>
    <name>DesktopUi</name>
    <message>
        <source>Open Tamborix Helper</source>
        <translation>Tamborix Helper öffnen</translation>
    </message>
    <message>
        <source>Pair New Device…</source>
        <translation>Neues Gerät koppeln …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>No phone connected</source>
        <translation>Kein Telefon verbunden</translation>
    </message>
    <message>
        <source>1 phone connected</source>
        <translation>1 Telefon verbunden</translation>
    </message>
    <message>
        <source>%1 phones connected</source>
        <translation>%1 Telefone verbunden</translation>
    </message>
    <message>
        <source>Tamborix Helper status</source>
        <translation>Tamborix Helper – Status</translation>
    </message>
    <message>
        <source>Pair a Device</source>
        <translation>Gerät koppeln</translation>
    </message>
</context>
<context>
    <name>DialogPrompter</name>
    <message>
        <source>Allow “%1” to control this computer?</source>
        <translation>„%1“ erlauben, diesen Computer zu steuern?</translation>
    </message>
    <message>
        <source>It will be able to move the pointer, click and type.
Device key: %1

Only allow devices you own and are pairing right now.</source>
        <translation>Das Gerät kann dann den Zeiger bewegen, klicken und tippen.
Geräteschlüssel: %1

Erlauben Sie nur eigene Geräte, die Sie gerade koppeln.</translation>
    </message>
    <message>
        <source>Deny</source>
        <translation>Ablehnen</translation>
    </message>
    <message>
        <source>Allow “%1” to see your screen?</source>
        <translation>„%1“ erlauben, Ihren Bildschirm zu sehen?</translation>
    </message>
    <message>
        <source>It will see whatever is on the monitor it&apos;s showing, while Live screen is open on it. You can change this later in Tamborix Helper → Paired devices.</source>
        <translation>Das Gerät sieht alles auf dem gezeigten Monitor, solange dort „Live-Bildschirm“ geöffnet ist. Sie können das später unter Tamborix Helper → Gekoppelte Geräte ändern.</translation>
    </message>
    <message>
        <source>Don&apos;t Allow</source>
        <translation>Nicht erlauben</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Erlauben</translation>
    </message>
</context>
<context>
    <name>HelpTexts</name>
    <message>
        <source>Scanning the QR code still works. For phones to find this computer by name, start Avahi: sudo systemctl enable --now avahi-daemon</source>
        <translation>Das Scannen des QR-Codes funktioniert weiterhin. Damit Telefone diesen Computer über seinen Namen finden, starten Sie Avahi: sudo systemctl enable --now avahi-daemon</translation>
    </message>
    <message>
        <source>Phones connect to TCP port %1. If they cannot reach it, allow that port in the firewall.</source>
        <translation>Telefone verbinden sich mit TCP-Port %1. Wenn sie ihn nicht erreichen, geben Sie diesen Port in der Firewall frei.</translation>
    </message>
</context>
<context>
    <name>HelperModel</name>
    <message>
        <source>CPU %1% · %2 MB · lag %3 ms · %4 cmds/s · BT backlog %5</source>
        <translation>CPU %1% · %2 MB · Verzögerung %3 ms · %4 Befehle/s · BT-Warteschlange %5</translation>
    </message>
    <message>
        <source>Screen capture is not available in this session</source>
        <translation>Bildschirmaufnahme ist in dieser Sitzung nicht verfügbar</translation>
    </message>
    <message>
        <source>Network — Off</source>
        <translation>Netzwerk — Aus</translation>
    </message>
    <message>
        <source>Network — Off until the identity key can be read</source>
        <translation>Netzwerk — Aus, bis der Identitätsschlüssel lesbar ist</translation>
    </message>
    <message>
        <source>Network — %1</source>
        <translation>Netzwerk — %1</translation>
    </message>
    <message>
        <source>Identity key — %1</source>
        <translation>Identitätsschlüssel — %1</translation>
    </message>
    <message>
        <source>Bluetooth — %1</source>
        <translation>Bluetooth — %1</translation>
    </message>
    <message>
        <source>Not supported on this computer</source>
        <translation>Auf diesem Computer nicht unterstützt</translation>
    </message>
    <message>
        <source>Bluetooth — Off</source>
        <translation>Bluetooth — Aus</translation>
    </message>
    <message>
        <source>Bluetooth — Off until the identity key can be read</source>
        <translation>Bluetooth — Aus, bis der Identitätsschlüssel lesbar ist</translation>
    </message>
    <message>
        <source>Input — dry run: nothing is posted, every action is logged</source>
        <translation>Eingabe — Probelauf: nichts wird gesendet, jede Aktion wird protokolliert</translation>
    </message>
    <message>
        <source>Input — allowed</source>
        <translation>Eingabe — erlaubt</translation>
    </message>
    <message>
        <source>Input — Needs permission to move the pointer and type.</source>
        <translation>Eingabe — Braucht die Erlaubnis, den Zeiger zu bewegen und zu tippen.</translation>
    </message>
    <message>
        <source>Pairing is off: identity key — %1</source>
        <translation>Kopplung ist aus: Identitätsschlüssel — %1</translation>
    </message>
    <message>
        <source>Changes to the paired devices hold until the helper stops; saving is tried again until it works.</source>
        <translation>Änderungen an den gekoppelten Geräten gelten, bis der Helper endet; das Speichern wird wiederholt, bis es gelingt.</translation>
    </message>
    <message>
        <source>Warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>Screen shared with %1</source>
        <translation>Bildschirm geteilt mit %1</translation>
    </message>
    <message>
        <source>Connected: none</source>
        <translation>Verbunden: keine</translation>
    </message>
    <message>
        <source>Connected: %1</source>
        <translation>Verbunden: %1</translation>
    </message>
    <message>
        <source>on</source>
        <translation>ein</translation>
    </message>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
    <message>
        <source>Switches: network %1 · Bluetooth %2 · front-app sharing %3 · start at login %4</source>
        <translation>Schalter: Netzwerk %1 · Bluetooth %2 · aktive App teilen %3 · Start bei Anmeldung %4</translation>
    </message>
    <message>
        <source>not supported</source>
        <translation>nicht unterstützt</translation>
    </message>
    <message>
        <source>Pairing code: %1</source>
        <translation>Kopplungscode: %1</translation>
    </message>
    <message>
        <source>Paired devices: %1</source>
        <translation>Gekoppelte Geräte: %1</translation>
    </message>
    <message>
        <source>Last event: %1</source>
        <translation>Letztes Ereignis: %1</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>On</source>
        <translation>Ein</translation>
    </message>
    <message>
        <source>Starting…</source>
        <translation>Startet …</translation>
    </message>
    <message>
        <source>Bluetooth is off</source>
        <translation>Bluetooth ist ausgeschaltet</translation>
    </message>
    <message>
        <source>Needs Bluetooth permission</source>
        <translation>Braucht die Bluetooth-Berechtigung</translation>
    </message>
    <message>
        <source>On (port %1)</source>
        <translation>Ein (Port %1)</translation>
    </message>
    <message>
        <source>On (%1</source>
        <translation>Ein (%1</translation>
    </message>
    <message>
        <source>Waiting: %1</source>
        <translation>Wartet: %1</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Discovery — off</source>
        <translation>Auffindbarkeit — aus</translation>
    </message>
    <message>
        <source>Discovery — registering “%1”…</source>
        <translation>Auffindbarkeit — „%1“ wird angemeldet …</translation>
    </message>
    <message>
        <source>Discovery — advertised as “%1”</source>
        <translation>Auffindbarkeit — sichtbar als „%1“</translation>
    </message>
    <message>
        <source>Discovery — unavailable: %1</source>
        <translation>Auffindbarkeit — nicht verfügbar: %1</translation>
    </message>
    <message>
        <source>Rejected a command from %1</source>
        <translation>Befehl von %1 abgelehnt</translation>
    </message>
    <message>
        <source>Clipboard received from %1</source>
        <translation>Zwischenablage von %1 empfangen</translation>
    </message>
    <message>
        <source>Wrong pairing code from %1</source>
        <translation>Falscher Kopplungscode von %1</translation>
    </message>
    <message>
        <source>Paired %1</source>
        <translation>%1 gekoppelt</translation>
    </message>
    <message>
        <source>Denied %1</source>
        <translation>%1 abgelehnt</translation>
    </message>
    <message>
        <source>%1 connected via %2</source>
        <translation>%1 verbunden über %2</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>Bluetooth</source>
        <translation>Bluetooth</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Line too long (over %1 bytes): ignored</source>
        <translation>Zeile zu lang (über %1 Bytes): ignoriert</translation>
    </message>
    <message>
        <source>To pair a phone type pair; status shows the helper&apos;s state.</source>
        <translation>Um ein Telefon zu koppeln, geben Sie pair ein; status zeigt den Zustand des Helpers.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Beendet.</translation>
    </message>
</context>
<context>
    <name>MenuContent</name>
    <message>
        <source>Presenter only</source>
        <translation>Nur Präsentation</translation>
    </message>
    <message>
        <source>Full control</source>
        <translation>Volle Steuerung</translation>
    </message>
    <message>
        <source>CPU %1% · memory %2 MB · delay %3 ms · %4 commands/s · Bluetooth queue %5</source>
        <translation>CPU %1% · Speicher %2 MB · Verzögerung %3 ms · %4 Befehle/s · Bluetooth-Warteschlange %5</translation>
    </message>
    <message>
        <source>Needs permission to move the pointer and type.</source>
        <translation>Braucht die Erlaubnis, den Zeiger zu bewegen und zu tippen.</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Pair New Device…</source>
        <translation>Neues Gerät koppeln …</translation>
    </message>
    <message>
        <source>Pair New Device</source>
        <translation>Neues Gerät koppeln</translation>
    </message>
    <message>
        <source>Paired devices</source>
        <translation>Gekoppelte Geräte</translation>
    </message>
    <message>
        <source>Delay: how late the helper answered its own timer in the last second. Bluetooth queue: messages waiting for a slow Bluetooth link.</source>
        <translation>Verzögerung: wie spät der Helper in der letzten Sekunde auf seinen eigenen Taktgeber reagiert hat. Bluetooth-Warteschlange: Nachrichten, die auf eine langsame Bluetooth-Verbindung warten.</translation>
    </message>
    <message>
        <source>Share the active app with paired phones (for shortcuts)</source>
        <translation>Aktive App mit gekoppelten Telefonen teilen (für Kurzbefehle)</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Bei Anmeldung starten</translation>
    </message>
    <message>
        <source>Start at login could not be changed: %1</source>
        <translation>Start bei Anmeldung ließ sich nicht ändern: %1</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Identity %1</source>
        <translation>Identität %1</translation>
    </message>
    <message>
        <source>This computer&apos;s key. Your phone shows it too: check that they match.</source>
        <translation>Der Schlüssel dieses Computers. Ihr Telefon zeigt ihn auch: prüfen Sie, ob beide übereinstimmen.</translation>
    </message>
    <message>
        <source>Pairing is off until the key is kept.</source>
        <translation>Die Kopplung ist aus, bis der Schlüssel gespeichert ist.</translation>
    </message>
    <message>
        <source>Warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>Phones can connect, but nothing they do reaches this desktop until then.</source>
        <translation>Telefone können sich verbinden, aber bis dahin erreicht nichts, was sie tun, diesen Desktop.</translation>
    </message>
    <message>
        <source>The helper notices within 2 seconds.</source>
        <translation>Der Helper bemerkt es innerhalb von 2 Sekunden.</translation>
    </message>
    <message>
        <source>Screen shared with %1</source>
        <translation>Bildschirm geteilt mit %1</translation>
    </message>
    <message>
        <source>Allow full control</source>
        <translation>Volle Steuerung erlauben</translation>
    </message>
    <message>
        <source>Limit to presenter (no typing)</source>
        <translation>Auf Präsentation beschränken (kein Tippen)</translation>
    </message>
    <message>
        <source>Stop allowing screen viewing</source>
        <translation>Bildschirmansicht nicht mehr erlauben</translation>
    </message>
    <message>
        <source>Reset screen-viewing permission</source>
        <translation>Erlaubnis zur Bildschirmansicht zurücksetzen</translation>
    </message>
    <message>
        <source>Remove…</source>
        <translation>Entfernen …</translation>
    </message>
    <message>
        <source>Actions for %1</source>
        <translation>Aktionen für %1</translation>
    </message>
    <message>
        <source>Remove %1?</source>
        <translation>%1 entfernen?</translation>
    </message>
    <message>
        <source>It will be disconnected immediately and must pair again.</source>
        <translation>Das Gerät wird sofort getrennt und muss neu gekoppelt werden.</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Open %1</source>
        <translation>%1 öffnen</translation>
    </message>
</context>
<context>
    <name>PairingProgress</name>
    <message>
        <source>Pairing is closed.</source>
        <translation>Die Kopplung ist geschlossen.</translation>
    </message>
    <message>
        <source>“%1” entered the code. Allow or deny it in the approval prompt.</source>
        <translation>„%1“ hat den Code eingegeben. Erlauben oder verweigern Sie es in der Rückfrage.</translation>
    </message>
    <message>
        <source>Paired %1</source>
        <translation>%1 gekoppelt</translation>
    </message>
    <message>
        <source>You denied “%1”. It was not paired.</source>
        <translation>Sie haben „%1“ abgelehnt. Es wurde nicht gekoppelt.</translation>
    </message>
    <message>
        <source>No answer within 60 seconds, so “%1” was not paired.</source>
        <translation>Keine Antwort innerhalb von 60 Sekunden, daher wurde „%1“ nicht gekoppelt.</translation>
    </message>
    <message>
        <source>Could not pair %1: %2</source>
        <translation>%1 konnte nicht gekoppelt werden: %2</translation>
    </message>
    <message>
        <source>the device could not be saved</source>
        <translation>das Gerät konnte nicht gespeichert werden</translation>
    </message>
    <message>
        <source>Three wrong codes were entered, so pairing was closed.</source>
        <translation>Dreimal wurde ein falscher Code eingegeben, daher wurde die Kopplung geschlossen.</translation>
    </message>
    <message>
        <source>The code expired before a phone used it.</source>
        <translation>Der Code ist abgelaufen, bevor ein Telefon ihn benutzt hat.</translation>
    </message>
</context>
<context>
    <name>PairingView</name>
    <message>
        <source>Pair a phone or watch</source>
        <translation>Telefon oder Uhr koppeln</translation>
    </message>
    <message>
        <source>QR code of the pairing link, to scan with the phone</source>
        <translation>QR-Code des Kopplungslinks, zum Scannen mit dem Telefon</translation>
    </message>
    <message>
        <source>In Tamborix on your iPhone,
tap “Scan pairing QR code”.</source>
        <translation>Tippen Sie in Tamborix auf Ihrem iPhone
auf „Scan pairing QR code“.</translation>
    </message>
    <message>
        <source>Or type this code</source>
        <translation>Oder diesen Code eintippen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Pair Another</source>
        <translation>Weiteres koppeln</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Your phone shows this computer&apos;s key too: check that they match.</source>
        <translation>Ihr Telefon zeigt den Schlüssel dieses Computers auch: prüfen Sie, ob beide übereinstimmen.</translation>
    </message>
    <message>
        <source>Pairing code %1</source>
        <translation>Kopplungscode %1</translation>
    </message>
    <message>
        <source>Expires in %1 · works once</source>
        <translation>Läuft ab in %1 · gilt einmal</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Paired</source>
        <translation>Gekoppelt</translation>
    </message>
</context>
</TS>
