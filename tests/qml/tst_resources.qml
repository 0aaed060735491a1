import QtQuick 2.15
import QtTest 1.15
import "qrc:/MaterialDesignIconGlyphs.js" as Glyphs
import "qrc:/"

TestCase {
    name: "Resources"

    function test_table_holds_the_whole_font_release_sorted_by_name() {
        var names = Object.keys(Glyphs.glyphs);
        compare(names.length, 2594);
        var lowest = 0xFFFF, highest = 0;
        for (var i = 0; i < names.length; ++i) {
            var text = Glyphs.glyphs[names[i]];
            compare(text.length, 1, names[i]);
            lowest = Math.min(lowest, text.charCodeAt(0));
            highest = Math.max(highest, text.charCodeAt(0));
            if (i > 0)
                verify(names[i - 1] < names[i], names[i - 1] + " before " + names[i]);
        }
        compare(lowest, 0xF001);
        compare(highest, 0xFA22);
    }

    function test_names_the_screens_use_data() {
        return [
            { tag: "alert", code: 0xF026 },
            { tag: "chevron-double-left", code: 0xF13D },
            { tag: "chevron-double-right", code: 0xF13E },
            { tag: "chevron-left", code: 0xF141 },
            { tag: "chevron-right", code: 0xF142 },
            { tag: "delete", code: 0xF1C0 },
            { tag: "folder-open", code: 0xF76F },
            { tag: "plus", code: 0xF415 },
            { tag: "subdirectory-arrow-left", code: 0xF60C }
        ];
    }

    function test_names_the_screens_use(data) {
        compare(Glyphs.glyphs[data.tag].charCodeAt(0), data.code);
    }

    Item {
        id: holder
        width: 60
        height: 60
    }

    Component {
        id: iconComponent
        MaterialDesignIcon {}
    }

    function test_icon_draws_its_glyph_in_the_loaded_font() {
        var icon = createTemporaryObject(iconComponent, holder, { name: "plus" });
        var glyph = findChild(icon, "glyph");
        compare(glyph.text, "\uF415");
        compare(icon.width, 40);
        compare(glyph.font.pixelSize, 40);
        tryCompare(glyph.font, "family", "Material Design Icons");
    }

    function test_icon_with_an_unknown_name_draws_nothing() {
        var icon = createTemporaryObject(iconComponent, holder, { name: "toString" });
        compare(findChild(icon, "glyph").text, "");
        icon.name = "no-such-glyph";
        compare(findChild(icon, "glyph").text, "");
    }

    Component {
        id: imageComponent
        Image {}
    }

    function test_artwork_loads_data() {
        return [
            { tag: "window icon, smallest size first", source: "qrc:/assets/icon.ico", width: 16 },
            { tag: "colour logo", source: "qrc:/assets/logo-color.png", width: 800 },
            { tag: "white logo", source: "qrc:/assets/logo-white.png", width: 800 },
            { tag: "Qt badge", source: "qrc:/assets/qt-logo.png", width: 128 }
        ];
    }

    function test_artwork_loads(data) {
        var image = createTemporaryObject(imageComponent, holder, { source: data.source });
        tryCompare(image, "status", Image.Ready);
        compare(image.sourceSize.width, data.width);
    }
}
