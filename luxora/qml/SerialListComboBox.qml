// The serial port selector: "No connection" and the ports found, kept fresh while its list is open.
import QtQuick 2.15
import QtQuick.Controls 2.15

ComboBox {
    id: root

    implicitWidth: 150
    enabled: !backend.busy
    model: backend.visibleSerialPortNames
    textRole: "display"
    currentIndex: backend.currentIndexOfVisibleSerialPortNames

    // Also for the row already shown: choosing the connected port again reconnects it.
    onActivated: backend.ConnectMotorViaSerial(index)

    Connections {
        target: root.popup
        function onOpened() { backend.StartScanningSerialPort(); }
        function onClosed() { backend.StopScanningSerialPort(); }
    }
}
