import QtQuick 2.15
import QtTest 1.15
import "qrc:/"

TestCase {
    id: testCase
    name: "Monitor"
    when: windowShown
    visible: true
    width: 600
    height: 600

    Component {
        id: monitorComponent
        Mornitor {
            width: 500
            height: 400
        }
    }

    Component {
        id: gaugeComponent
        CircularTransmittanceMornitor {
            width: 300
            height: 300
        }
    }

    Component {
        id: flatComponent
        FlatTransmittanceMornitor {
            width: 500
            height: 200
        }
    }

    function init() {
        backend.reset();
        backend.load("motorConnected", true);
    }

    function test_texts_round_to_one_decimal_data() {
        return [
            { tag: "0.4567", transmittance: 0.4567, degree: 0, text: "45.7", degreeText: "0" },
            { tag: "0.45", transmittance: 0.45, degree: 0, text: "45", degreeText: "0" },
            { tag: "-12.345 degrees", transmittance: 0, degree: -12.345, text: "0", degreeText: "-12.3" },
            { tag: "half a tenth rounds up", transmittance: 1, degree: 10.25, text: "100", degreeText: "10.3" },
            { tag: "negative half rounds up", transmittance: 0, degree: -0.25, text: "0", degreeText: "-0.2" }
        ];
    }

    function test_texts_round_to_one_decimal(data) {
        var monitor = createTemporaryObject(monitorComponent, testCase);
        backend.setReadout(data.transmittance, data.degree, 321);
        compare(monitor.transmittanceText, data.text);
        compare(monitor.degreeText, data.degreeText);
        compare(monitor.stepText, "321");
    }

    function test_device_values_are_read_once_per_notification() {
        createTemporaryObject(monitorComponent, testCase);
        var before = [backend.transmittanceReads, backend.degreeReads, backend.stepReads];
        backend.setReadout(0.5, 20, 100);
        compare(backend.transmittanceReads - before[0], 1);
        compare(backend.degreeReads - before[1], 1);
        compare(backend.stepReads - before[2], 1);
    }

    function test_form_switches_at_a_content_height_of_250() {
        var monitor = createTemporaryObject(monitorComponent, testCase);
        var dial = findChild(monitor, "degreeDial");
        var flat = findChild(monitor, "flatGauge");
        monitor.height = 249 + monitor.topPadding + monitor.bottomPadding;
        verify(flat.visible);
        verify(!dial.visible);
        monitor.height = 250 + monitor.topPadding + monitor.bottomPadding;
        verify(dial.visible);
        verify(!flat.visible);
    }

    function test_pages_hint_texts_and_dial_follow_the_degree() {
        var monitor = createTemporaryObject(monitorComponent, testCase);
        backend.setReadout(0.2, 400, 0);
        compare(monitor.degreeText, "400");
        compare(findChild(monitor, "circularDegreeText").text, "400°");
        compare(findChild(monitor, "degreeDial").angle, 360);
    }

    function tickStates(repeater) {
        var visibleTicks = [], hitTicks = [];
        for (var i = 0; i < repeater.count; ++i) {
            var tick = repeater.itemAt(i);
            if (tick.opacity > 0)
                visibleTicks.push(i);
            if (tick.hit)
                hitTicks.push(i);
        }
        return { visible: visibleTicks, hit: hitTicks };
    }

    function span(first, last) {
        var result = [];
        for (var i = first; i <= last; ++i)
            result.push(i);
        return result;
    }

    function test_ticks_draw_the_range_filled_to_the_transmittance() {
        backend.transmittanceRangeMin = 0.25;
        backend.transmittanceRangeMax = 0.75;
        var gauge = createTemporaryObject(gaugeComponent, testCase,
                                          { transmittanceText: "50", accentColor: "#004387", foregroundColor: "#101010" });
        var ticks = findChild(gauge, "ticks");
        var states = tickStates(ticks);
        compare(states.visible, span(25, 75));
        compare(states.hit, span(0, 49));
        compare(ticks.itemAt(30).opacity, 0.5);
        compare(ticks.itemAt(60).opacity, 0.25);
        compare(ticks.itemAt(30).height, 50);
        compare(ticks.itemAt(60).height, 40);
        compare(String(ticks.itemAt(30).color), "#004387");
        gauge.focusDegree = true;
        compare(String(ticks.itemAt(30).color), "#101010");
    }

    function test_single_precision_bound_keeps_its_own_tick() {
        backend.transmittanceRangeMin = 0.3;
        backend.transmittanceRangeMax = 0.7;
        var gauge = createTemporaryObject(gaugeComponent, testCase, { transmittanceText: "0" });
        compare(tickStates(findChild(gauge, "ticks")).visible, span(30, 70));
    }

    function test_disconnected_gauge_shows_no_numbers_and_no_fill() {
        backend.load("motorConnected", false);
        var gauge = createTemporaryObject(gaugeComponent, testCase, { transmittanceText: "80" });
        compare(tickStates(findChild(gauge, "ticks")).hit, []);
        verify(!findChild(gauge, "circularTransmittanceText").visible);
        var flat = createTemporaryObject(flatComponent, testCase, { transmittanceText: "80" });
        compare(tickStates(findChild(flat, "bars")).hit, []);
        verify(!findChild(flat, "flatMainText").visible);
    }

    function test_flat_bars_follow_the_same_rules() {
        backend.transmittanceRangeMin = 0.25;
        backend.transmittanceRangeMax = 0.75;
        var flat = createTemporaryObject(flatComponent, testCase, { transmittanceText: "45.7" });
        var bars = findChild(flat, "bars");
        var states = tickStates(bars);
        compare(states.visible, span(25, 75));
        compare(states.hit, span(0, 45));
        compare(bars.itemAt(40).height, 100);
        compare(bars.itemAt(50).height, 96);
        compare(bars.itemAt(1).x, 5);
        compare(bars.itemAt(1).width, 4);
    }

    function test_flat_steps_line_needs_120_pixels() {
        var flat = createTemporaryObject(flatComponent, testCase, { stepText: "9", height: 120 });
        var steps = findChild(flat, "flatStepsText");
        verify(steps.visible);
        compare(steps.text, "STEPS: 9");
        flat.height = 119;
        verify(!steps.visible);
    }

    function test_transmittance_notification_pulses_the_texts_once() {
        var gauge = createTemporaryObject(gaugeComponent, testCase, { transmittanceText: "10" });
        compare(gauge.textOpacity, 1.0);
        // Followed frame by frame, whatever the machine's speed: once the texts come back from their fade, a
        // second notification arrives; it must not start the pulse again, so they never fade from there on.
        var lowest = 1.0;
        var last = 1.0;
        var notified = false;
        var fadedAgain = false;
        var follow = function() {
            var opacity = gauge.textOpacity;
            if (notified && opacity < last)
                fadedAgain = true;
            if (!notified && lowest < 0.35 && opacity > lowest && opacity < 1.0) {
                notified = true;
                backend.setReadout(0.3, 0, 0);
            }
            lowest = Math.min(lowest, opacity);
            last = opacity;
        };
        gauge.textOpacityChanged.connect(follow);
        backend.setReadout(0.2, 0, 0);
        tryVerify(function() { return notified && gauge.textOpacity === 1.0; }, 5000);
        gauge.textOpacityChanged.disconnect(follow);
        verify(!fadedAgain);
    }
}
