#pragma once
// The grid's columns in their described order. The tests number them here
// rather than take the code's numbers, so that they notice when those change.

enum GridColumn : int {
    ColSource,
    ColDestination,
    ColUserName,
    ColService,
    ColStartTime,
    ColDuration,
    ColInTraffic,
    ColOutTraffic,
    ColTotalTraffic,
    ColAuthentification,
    ColNextServer,
    ColResult,
    ColInRate,
    ColOutRate,
    ColDestinationPort,
};
