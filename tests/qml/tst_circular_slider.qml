import QtQuick 2.15
import QtTest 1.15
import "qrc:/"

TestCase {
    id: testCase
    name: "CircularSlider"
    when: windowShown
    visible: true
    width: 300
    height: 300

    Component {
        id: sliderComponent
        CircularSlider {
            width: 200
            height: 200
        }
    }

    // The owner's value that a bound slider follows.
    property real boundValue: 0.1

    Component {
        id: boundSliderComponent
        CircularSlider {
            width: 200
            height: 200
            value: testCase.boundValue
        }
    }

    Component {
        id: dialComponent
        CircularDegreeMornitor {
            width: 200
            height: 200
        }
    }

    function test_angle_follows_the_value_over_the_span() {
        var slider = createTemporaryObject(sliderComponent, testCase, { value: 0.25 });
        compare(slider.angle, 90);
        slider.startAngle = 90;
        slider.endAngle = 270;
        slider.minValue = 10;
        slider.maxValue = 20;
        slider.value = 15;
        compare(slider.angle, 180);
    }

    // The ring of a 200-pixel slider with 20-pixel strokes lies between radius 80 (exclusive) and 100.
    function test_click_on_the_ring_sets_the_value_data() {
        return [
            { tag: "right, on the ring", x: 195, y: 100, value: 0.25 },
            { tag: "bottom, outer edge", x: 100, y: 200, value: 0.5 },
            { tag: "left, just inside the inner edge", x: 19, y: 100, value: 0.75 },
            { tag: "left, on the inner edge", x: 20, y: 100, value: 0.1 },
            { tag: "centre", x: 100, y: 100, value: 0.1 },
            { tag: "corner outside the ring", x: 5, y: 5, value: 0.1 }
        ];
    }

    function test_click_on_the_ring_sets_the_value(data) {
        var slider = createTemporaryObject(sliderComponent, testCase, { value: 0.1 });
        mouseClick(slider, data.x, data.y);
        compare(slider.value, data.value);
    }

    // moved() sees the user's value; right after it the owner's binding holds again and still follows.
    function test_bound_value_takes_its_binding_back_after_user_input_data() {
        return [
            { tag: "click", path: [[195, 100]], seen: [0.25] },
            { tag: "drag", path: [[195, 100], [100, 195], [5, 100]], seen: [0.25, 0.5, 0.75] }
        ];
    }

    function test_bound_value_takes_its_binding_back_after_user_input(data) {
        testCase.boundValue = 0.1;
        var slider = createTemporaryObject(boundSliderComponent, testCase);
        var seen = [];
        slider.moved.connect(function () { seen.push(slider.value); });
        var last = data.path[data.path.length - 1];
        mousePress(slider, data.path[0][0], data.path[0][1]);
        compare(slider.value, 0.1);
        for (var i = 1; i < data.path.length; ++i) {
            mouseMove(slider, data.path[i][0], data.path[i][1]);
            compare(slider.value, 0.1);
        }
        mouseRelease(slider, last[0], last[1]);
        compare(seen, data.seen);
        compare(slider.value, 0.1);
        testCase.boundValue = 0.4;
        compare(slider.value, 0.4);
    }

    function test_angle_outside_the_span_is_ignored() {
        var slider = createTemporaryObject(sliderComponent, testCase, { value: 0.1, endAngle: 180 });
        mouseClick(slider, 5, 100);
        compare(slider.value, 0.1);
        mouseClick(slider, 195, 100);
        compare(slider.value, 0.5);
    }

    function test_snap_rounds_to_the_step() {
        var slider = createTemporaryObject(sliderComponent, testCase,
                                           { snap: true, stepSize: 0.25, minValue: 0, maxValue: 1 });
        // 30 degrees clockwise from the top is 1/12 of the span: nearest multiple of 0.25 is 0.
        mouseClick(slider, 100 + 95 * Math.sin(Math.PI / 6), 100 - 95 * Math.cos(Math.PI / 6));
        compare(slider.value, 0);
        mouseClick(slider, 100 + 95 * Math.sin(Math.PI * 2 / 3), 100 - 95 * Math.cos(Math.PI * 2 / 3));
        compare(slider.value, 0.25);
    }

    function test_non_interactive_slider_takes_no_input_and_hides_its_handle() {
        var slider = createTemporaryObject(sliderComponent, testCase, { value: 0.1, interactive: false });
        mouseClick(slider, 195, 100);
        compare(slider.value, 0.1);
        verify(!findChild(slider, "handle").visible);
    }

    function test_dial_maps_degrees_onto_two_motor_turns_data() {
        return [
            { tag: "zero points down", degree: 0, angle: 180 },
            { tag: "+180 points about left", degree: 180, angle: 270.0025 },
            { tag: "-180 points about right", degree: -180, angle: 89.9975 },
            { tag: "top end", degree: 359.99, angle: 360 },
            { tag: "beyond the end rests at the top", degree: 400, angle: 360 },
            { tag: "beyond the start rests at the top", degree: -400, angle: 0 }
        ];
    }

    function test_dial_maps_degrees_onto_two_motor_turns(data) {
        var dial = createTemporaryObject(dialComponent, testCase, { degreeValue: data.degree });
        fuzzyCompare(dial.angle, data.angle, 1e-4);
    }

    function test_dial_takes_its_degree_back_after_a_click() {
        var dial = createTemporaryObject(dialComponent, testCase, { degreeValue: 10 });
        mouseClick(dial, 195, 100);
        compare(dial.value, 10);
        dial.degreeValue = 20;
        compare(dial.value, 20);
    }
}
