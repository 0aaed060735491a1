// One glyph of the Material Design Icons font, filling its parent less a 10-pixel margin.
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import "MaterialDesignIconGlyphs.js" as MaterialDesignIconGlyphs

Item {
    id: icon

    property string name
    property color color: Material.foreground

    anchors.fill: parent
    anchors.margins: 10

    FontLoader {
        id: iconFont
        source: "qrc:/assets/materialdesignicons-webfont.ttf"
    }

    Label {
        objectName: "glyph"
        anchors.fill: parent
        // A whole font, not the inherited one: a control's point size must not mix with this pixel size.
        font: Qt.font({ family: iconFont.name, pixelSize: height > 0 ? height : 1 })
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: icon.color
        // hasOwnProperty keeps names such as "toString" from reaching the object's prototype.
        text: MaterialDesignIconGlyphs.glyphs.hasOwnProperty(icon.name) ? MaterialDesignIconGlyphs.glyphs[icon.name] : ""
    }
}
