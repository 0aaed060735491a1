// The About page: the product, its version, the maker's web site and the open-source software it uses.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQuick.Layouts 1.15

Pane {
    id: root

    readonly property string websiteUrl: "https://korvan.example/"

    padding: 0

    ListModel {
        id: openSources

        ListElement {
            elementImage: "qrc:/assets/qt-logo.png"
            elementName: "<a href=\"https://www.qt.io/\">Qt</a>"
            elementWebsiteUrl: "https://www.qt.io/"
            elementVersion: "5.15.2"
            elementLicense: "<a href=\"https://doc.qt.io/qt-5/lgpl.html\">LGPL 3.0</a>"
            elementLicenseUrl: "https://doc.qt.io/qt-5/lgpl.html"
            elementFontBold: false
        }
    }

    Pane {
        anchors.fill: parent
        Material.elevation: 1

        Column {
            anchors.centerIn: parent
            spacing: 10

            Image {
                id: logo
                objectName: "logo"
                anchors.horizontalCenter: parent.horizontalCenter
                width: Math.min(root.width, 600)
                fillMode: Image.PreserveAspectFit
                sourceSize.width: width / 2
                source: root.Material.theme === Material.Dark ? "qrc:/assets/logo-white.png" : "qrc:/assets/logo-color.png"
            }

            Label {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "KORVAN Luxora"
                font.pointSize: 12
            }

            Label {
                objectName: "versionText"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "version " + Qt.application.version
            }

            RoundButton {
                objectName: "visitWebsiteButton"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Visit website"
                flat: true
                padding: 0
                font.pointSize: 9
                font.capitalization: Font.MixedCase
                Material.foreground: Material.accent
                onClicked: Qt.openUrlExternally(root.websiteUrl)
            }

            RoundButton {
                objectName: "openSourcesButton"
                anchors.horizontalCenter: parent.horizontalCenter
                text: "View open sources information"
                flat: true
                font.pointSize: 8
                font.capitalization: Font.MixedCase
                Material.foreground: Material.accent
                onClicked: openSourcePopup.open()
            }
        }
    }

    Popup {
        id: openSourcePopup
        objectName: "openSourcePopup"

        anchors.centerIn: parent
        width: root.width * 0.7
        height: root.height / 2
        modal: true
        focus: true

        background: Rectangle {
            color: root.Material.background
            radius: 4
        }

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: "Opensource informations"
            }

            ListView {
                id: openSourceList
                objectName: "openSourceList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                highlightFollowsCurrentItem: false
                model: openSources

                delegate: RowLayout {
                    width: openSourceList.width
                    height: 55
                    spacing: 0

                    Image {
                        Layout.preferredWidth: parent.width * 0.1
                        Layout.preferredHeight: parent.width * 0.1
                        fillMode: Image.PreserveAspectFit
                        sourceSize.width: parent.width * 0.1
                        sourceSize.height: parent.width * 0.1
                        source: elementImage
                    }
                    Label {
                        Layout.preferredWidth: parent.width * 0.2
                        horizontalAlignment: Text.AlignHCenter
                        textFormat: Text.RichText
                        text: elementName
                        font.bold: elementFontBold
                        onLinkActivated: Qt.openUrlExternally(elementWebsiteUrl)
                    }
                    Label {
                        Layout.preferredWidth: parent.width * 0.2
                        horizontalAlignment: Text.AlignHCenter
                        text: elementVersion
                        font.bold: elementFontBold
                    }
                    Label {
                        Layout.preferredWidth: parent.width * 0.3
                        horizontalAlignment: Text.AlignHCenter
                        textFormat: Text.RichText
                        text: elementLicense
                        font.bold: elementFontBold
                        onLinkActivated: Qt.openUrlExternally(elementLicenseUrl)
                    }
                }
            }
        }
    }
}
