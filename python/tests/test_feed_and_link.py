"""Call records and route requests from the simulator, in an asyncio loop
that watches the message layer's queue descriptor (the library's timer, which
polls the feed and the link, runs only there)."""
import asyncio

import pytest

import qapi


def of(kind, notes):
    return [note for note in notes if isinstance(note, kind)]


async def gather(stream, notes, enough, seconds=10.0):
    """Takes notifications into `notes` until enough(notes) holds."""
    async def take():
        async for note in stream:
            notes.append(note)
            if enough(notes):
                return
    if not enough(notes):
        await asyncio.wait_for(take(), seconds)


async def drain(stream):
    return [note async for note in stream]


def test_call_records_arrive_and_a_route_request_is_answered(sim, library):
    async def scenario():
        async with qapi.async_notifications() as stream:
            feed = qapi.CallRecordFeed(sim.address, sim.feed_port)
            link = qapi.RoutingLink(sim.address, sim.adjunct_port)
            notes = []
            await gather(stream, notes, lambda n: len(of(qapi.CallRecord, n)) == 3 and of(qapi.LinkStatus, n))
            records = of(qapi.CallRecord, notes)
            assert [r.kind_letter for r in records] == ["F", "B", "D"] and {r.source for r in records} == {feed}
            assert records[0] == qapi.CallRecord(
                feed, kind_letter="F", second=0, minute=30, hour=10, day=17, month=5, year=2024, duration=60,
                number_a=17, number_b=4711, number_c=1, text_a="4711", text_b="17", text_c="0815", text="",
                word_a=1, word_b=2, value_a=3, value_b=4, address_text="192.0.2.10", number_d=1000,
                server_address_text=sim.address)
            assert records[1].text == "Call record note 2" and records[1].text_a == "" and records[1].kind == 1
            assert (records[2].number_a, records[2].text_a, records[2].text_c) == (18, "4712", "18")

            assert of(qapi.LinkStatus, notes) == [qapi.LinkStatus(link, qapi.LinkState.UP, None)]
            sim.send("route 4711 17 4711 17")
            await gather(stream, notes, lambda n: of(qapi.RouteRequest, n))
            request = of(qapi.RouteRequest, notes)[0]
            assert (request.source, request.number_a, request.number_b, request.text_a, request.text_b) == \
                   (link, 4711, 17, "4711", "17")
            link.response(request.handle, "200", 0)
            with pytest.raises(qapi.RefusedError) as twice:
                link.response(request.handle, "200", 0)
            assert twice.value.operation == "QAPI_Adjunct_response"
            await asyncio.get_running_loop().run_in_executor(None, sim.expect, r'route response .*"200"')

            # Releasing the library ends the stream and every handle.
            qapi.release()
            await asyncio.wait_for(drain(stream), 5)
            assert stream.closed and not feed.live and not link.live

    asyncio.run(scenario())


def test_a_feed_that_cannot_connect_is_refused(sim_namespace, library):
    with pytest.raises(qapi.RefusedError) as refused:
        qapi.CallRecordFeed("127.0.0.1", 9)  # nothing listens there
    assert refused.value.operation == "QAPI_Cmdr_start"
