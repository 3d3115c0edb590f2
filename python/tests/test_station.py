"""A station against the simulator, through the blocking iterator."""
import threading

import pytest

import qapi


def test_a_station_registers_rings_and_answers(sim, library, expect):
    station = qapi.Station(17)
    registered = expect(qapi.Snapshot, lambda n: n.source is station and n.reg_state == qapi.RegState.REGISTERED)
    assert registered.station_id == 17 and registered.can_newcall and not registered.can_answer
    sim.expect(r"station 17: registered")

    sim.send("ring 17 4711")
    ringing = expect(qapi.Snapshot, lambda n: n.is_alerting)
    assert ringing.source is station and ringing.can_answer and station.snapshot is ringing
    station.answer()
    talking = expect(qapi.Snapshot, lambda n: not n.is_alerting and n.can_hold)
    assert talking.can_clear and not talking.can_answer
    # Answering again is refused by the library, which names the operation.
    with pytest.raises(qapi.RefusedError) as refused:
        station.answer()
    assert refused.value.operation == "QAPI_Client_answer" and "can_answer" in str(refused.value)

    station.stop()
    with pytest.raises(qapi.BadHandleError):
        station.clear()


def test_a_thread_started_station_and_the_library_lifecycle(sim, expect):
    with pytest.raises(qapi.NotInitializedError):
        qapi.Station(18)
    with qapi.initialize(5001):
        station = qapi.Station(18, to_thread=True)
        first = expect(qapi.Snapshot, lambda n: n.reg_state == qapi.RegState.REGISTERED)
        assert first.source is None and first.station_id == 18
        with pytest.raises(qapi.RefusedError) as refused:
            qapi.Station(18)  # the station identifier is taken
        assert refused.value.operation == "QAPI_Client_start"
        heartbeat = expect(qapi.Heartbeat)
        assert heartbeat.source is None
        # The library belongs to the thread that initialised it.
        caught = []
        other = threading.Thread(target=lambda: caught.append(pytest.raises(qapi.WrongThreadError, station.hold)))
        other.start()
        other.join()
        assert caught
    # Releasing the library stopped every station: the handle is dead.
    assert not station.live
    with pytest.raises(qapi.NotInitializedError):
        station.hold()
    with qapi.initialize(5001):
        with pytest.raises(qapi.BadHandleError):
            station.hold()
