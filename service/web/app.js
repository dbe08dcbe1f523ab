// The page of the fleet service; it asks the REST API under /api/v1.
"use strict";
